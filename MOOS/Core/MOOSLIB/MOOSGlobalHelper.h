// Helpers of the MOOS community built on the general runtime helpers: matrix
// text, mission and log line lookups, third-party status texts, file-system
// helpers and numeric helpers for applications.
//
// Including this header also gives the general helpers (time, trace, string
// cutting and the scalar name-value family). All functions are free and keep no
// state, except the random helpers, which share the C library generator and are
// meant for one thread at a time. Lookups that return false leave their
// destination untouched, except where noted.
#ifndef MOOSLIB_MOOSGLOBALHELPER_H
#define MOOSLIB_MOOSGLOBALHELPER_H

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <istream>
#include <list>
#include <sstream>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Matrix text: "[rows x cols]{e11,e12,...}" in row order; "[n]" means one
// column. Three values 1, 2.5, -3 are written as "[3x1]{1.0000,2.5000,-3.0000}".

// Parses matrix text into the vector (cleared first). False when there is no
// '[' or '{', when a count is zero or negative, or when the text holds fewer
// elements than rows x cols. The counts are written once the '[' is found.
bool MOOSVectorFromString(const std::string& sStr, std::vector<double>& dfValVec, int& nRows,
                          int& nCols);
bool MOOSVectorFromString(const std::string& sStr, std::vector<float>& fValVec, int& nRows,
                          int& nCols);
bool MOOSVectorFromString(const std::string& sStr, std::vector<unsigned int>& nValVec, int& nRows,
                          int& nCols);

// Reads the matrix that follows "sToken=" (no blank before the '=').
bool MOOSValFromString(std::vector<double>& dfValVec, int& nRows, int& nCols,
                       const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
bool MOOSValFromString(std::vector<unsigned int>& nValVec, int& nRows, int& nCols,
                       const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);

// Appends the vector as one column; the doubles in fixed notation with four
// decimals (the stream is left so), the ints in the stream's integer format.
std::stringstream& Write(std::stringstream& os, const std::vector<double>& Vec);
std::stringstream& Write(std::stringstream& os, const std::vector<int>& Vec);
// The text that Write gives for the vector; "[0x1]{}" when empty.
std::string DoubleVector2String(const std::vector<double>& V);

// ---------------------------------------------------------------------------
// Other lookups.

// First line holding '=' whose name equals sToken ignoring case (blanks, tabs
// and CRs anywhere in the line are ignored); its value goes to sVal.
bool MOOSGetValueFromToken(std::list<std::string>& sParams, const std::string& sToken,
                           std::string& sVal);
// Reads log lines "time name source value..." (empty lines and lines starting
// with '%' are passed over) up to one whose name equals sMessageName ignoring
// case. On false (end of stream) dfTime holds the time of the last line read.
bool GetNextAlogLineByMessageName(std::istream& Input, const std::string& sMessageName,
                                  double& dfTime, std::string& sSource, std::string& sValue);

// ---------------------------------------------------------------------------
// Third-party texts; both end in one NUL character that is part of the string.

// "STATUS:<status>,\0"
std::string MOOSThirdPartyStatusString(std::string sStatusCommand);
// "ACTUATION:RUDDER=r,ELEVATOR=e,THRUST=t,\0", each part only for a non-null
// pointer.
std::string MOOSThirdPartyActuationString(double* pdfRudder, double* pdfElevator,
                                          double* pdfThrust);

// ---------------------------------------------------------------------------
// File system.

// "/a/b/c.tar.gz" gives "/a/b", "c.tar" and "gz". Always true.
bool MOOSFileParts(std::string sFullPath, std::string& sPath, std::string& sFile,
                   std::string& sExtension);
// Names of the regular files (bFiles true) or subdirectories (false) of sPath,
// sorted, put in front of what the list holds; "." and ".." are never listed,
// nor entries that cannot be examined. False, with a trace, when the directory
// cannot be read.
bool GetDirectoryContents(const std::string& sPath, std::list<std::string>& sContents,
                          bool bFiles = true);
// Creates the directory (mode 0755 before umask). True also when it exists.
bool MOOSCreateDirectory(const std::string& sDirectory);

// ---------------------------------------------------------------------------
// Numeric helpers. They use pi = 3.141592653589, not the full-precision value.

// The angle (radians) wrapped into (-pi, pi].
double MOOS_ANGLE_WRAP(double dfAng);
// Clamps dfVal into [-dfLimit, dfLimit]; true when it had to be clamped.
bool MOOSAbsLimit(double& dfVal, double dfLimit);
double MOOSDeg2Rad(double dfDeg);
double MOOSRad2Deg(double dfRad);
// Uniform in [dfMin, dfMax] from rand(); never seeded, so runs repeat.
double MOOSUniformRandom(double dfMin, double dfMax);
// Uniform whole number between nMin and nMax, rounded from MOOSUniformRandom.
int MOOSDiscreteUniform(int nMin, int nMax);
// Normal sample with mean 0 and standard deviation dfSigma (polar method);
// the draws come in pairs, so every second call uses no new random numbers.
double MOOSWhiteNoise(double dfSigma);
// Coarse inverse of the standard normal distribution by a table of
// percentiles, without interpolation; -1e60 below 0 and 1e60 from 1 on.
double MOOSNormalInv(double dfArea);

#endif
