// CScaler: follows one numeric variable and publishes a scaled copy of it,
// output = input * Factor + Offset, stamped with the input's time.
//
// Its block in the mission file names the variables and the scale:
//   Input  = DEPTH        (variable to follow; required)
//   Output = DEPTH_FEET   (variable to publish; default Input + "_SCALED")
//   Factor = 3.28084      (default 1)
//   Offset = 0            (default 0)
// A string value that holds a number is followed as well; other text is
// ignored. Everything runs on the framework's threads as CMOOSApp describes.
#ifndef EXAMPLES_SCALER_SCALER_H
#define EXAMPLES_SCALER_SCALER_H

#include "MOOSLIB/MOOSApp.h"

#include <string>

class CScaler : public CMOOSApp
{
protected:
    bool OnStartUp() override;
    bool OnConnectToServer() override;
    bool OnNewMail(MOOSMSG_LIST& NewMail) override;
    bool Iterate() override;

private:
    // The input's value as a number; false when it holds none.
    static bool NumberOf(const CMOOSVariable& var, double& value);

    double factor = 1.0;
    double offset = 0.0;
};

#endif
