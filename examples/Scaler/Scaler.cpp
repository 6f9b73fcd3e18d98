#include "Scaler.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <cstdlib>

bool CScaler::OnStartUp()
{
    std::string input;
    if (!missionReader.GetConfigurationParam("Input", input))
        return MOOSFail("Scaler needs an Input variable in its block of the mission file");
    std::string output = input + "_SCALED";
    missionReader.GetConfigurationParam("Output", output);
    missionReader.GetConfigurationParam("Factor", factor);
    missionReader.GetConfigurationParam("Offset", offset);

    AddMOOSVariable("input", input, "", 0.0);
    AddMOOSVariable("output", "", output, 0.0);
    // The first connection may have been made before the variables existed;
    // later ones register again from OnConnectToServer. A registration that
    // fails here (not connected yet, or made already) is made on connection.
    RegisterMOOSVariables();
    return true;
}

bool CScaler::OnConnectToServer()
{
    return RegisterMOOSVariables();
}

bool CScaler::OnNewMail(MOOSMSG_LIST& NewMail)
{
    return UpdateMOOSVariables(NewMail);
}

bool CScaler::Iterate()
{
    CMOOSVariable* input = GetMOOSVar("input");
    double value = 0.0;
    if (input != nullptr && input->IsFresh() && NumberOf(*input, value))
        SetMOOSVar("output", value * factor + offset, input->GetTime());
    // The input is only followed, never published back.
    if (input != nullptr)
        input->SetFresh(false);
    return PublishFreshMOOSVariables();
}

bool CScaler::NumberOf(const CMOOSVariable& var, double& value)
{
    if (var.IsDouble())
    {
        value = var.GetDoubleVal();
        return true;
    }
    const std::string text = var.GetStringVal();
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0')
        return false;
    value = parsed;
    return true;
}
