// One NAME=VALUE operand of VarPoke and the value it stands for.
//
// The name is everything before the first '=' and may not be empty; the
// value is everything after it. The value is a string when --string is
// given, or when it is written in double quotes ("..."; the quotes are
// removed, and from a shell they must be quoted themselves: X='"42"'), or
// when it is not a decimal number; otherwise it is that number, as a double.
// Hexadecimal forms are strings: a MOOS double is written in decimal.
// "nan", "inf" (any case and spelling strtod takes) and decimals beyond a
// double's range are refused unless --string or quotes make them text: a
// subscriber would take them for a reading.
#ifndef VARPOKE_POKEASSIGNMENT_H
#define VARPOKE_POKEASSIGNMENT_H

#include <string>

struct PokeAssignment
{
    std::string sName;
    bool bIsDouble = false;
    double dfValue = 0.0;
    std::string sValue;
};

// False, with a one-line reason in sError, when sArg is not NAME=VALUE.
bool ParsePokeAssignment(const std::string& sArg, bool bForceString, PokeAssignment& Out,
                         std::string& sError);

#endif
