// Entry point: parse the command line, build the Application, run it.
// A failed start prints one line naming what failed and exits with status 1.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/LogSetup.h"
#include "app/Settings.h"
#include "common/HelpAndVersion.h"
#include "common/Log.h"
#include "operator/StatusFile.h"
#include "platform/system/AudioDevices.h"
#include "platform/system/Displays.h"
#include "platform/system/System.h"

int main(int argc, char** argv)
{
    Options options;
    std::string error;
    if (int status = ResolveOptions(argc, argv, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), options, error);
        status != 0) {
        LogError("", "%s", error.c_str());
        return status;
    }
    if (AnswerHelpOrVersion(options.showHelp, options.showVersion, UsageText(), "solvane")) return 0;
    if (options.showStatus)
        return ShowStatus(options.statusFile, stdout);
    if (options.seed) std::srand(*options.seed);
    if (options.listDevices) {
        int status = platform::PrintAudioDevices();
        return platform::PrintDisplays() != 0 ? 1 : status;
    }

    SetUpLogging(DecorationForThisProcess(), options.logLevel);
    if (!platform::StartSystem(error)) {
        LogError("", "cannot start: %s", error.c_str());
        return 1;
    }
    int status = 0;
    {
        Application application(options);
        if (application.Init(nullptr, 1)) {
            application.Run();
        } else {
            LogError("", "cannot start: %s", application.FailureReason().c_str());
            status = 1;
        }
    }
    platform::StopSystem();
    return status;
}
