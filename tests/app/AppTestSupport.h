// Helpers shared by the application framework tests: a temporary mission
// file, an application that records what its hooks saw, and bounded waits.
#ifndef TESTS_APP_APPTESTSUPPORT_H
#define TESTS_APP_APPTESTSUPPORT_H

#include "MOOSLIB/MOOSApp.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include "support/Files.h"
#include "support/WaitFor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using moostest::TempDir;
using moostest::WaitFor;

// An application that records its hooks and exposes the framework's
// protected state to the tests. Iterate runs the optional action.
class ProbeApp : public CMOOSApp
{
public:
    using CMOOSApp::comms;
    using CMOOSApp::DoRunWork;
    using CMOOSApp::IteratePrivate;
    using CMOOSApp::missionReader;
    using CMOOSApp::OnNewMailPrivate;
    using CMOOSApp::PacingSleepMs;

    bool Iterate() override
    {
        ++iterations;
        {
            std::lock_guard<std::mutex> guard(lock);
            iterateThread = std::this_thread::get_id();
        }
        if (onIterate)
            onIterate(*this);
        return true;
    }
    bool OnStartUp() override
    {
        startedUp = true;
        return startUpResult;
    }
    bool OnConnectToServer() override
    {
        if (registerOnConnect)
            RegisterMOOSVariables();
        ++connects;
        return true;
    }
    bool OnDisconnectFromServer() override
    {
        ++disconnects;
        return true;
    }
    bool OnNewMail(MOOSMSG_LIST& mail) override
    {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> keys;
        for (const CMOOSMsg& msg : mail)
            keys.push_back(msg.GetKey());
        batches.push_back(keys);
        mailKeys.insert(mailKeys.end(), keys.begin(), keys.end());
        if (updateVariables)
            UpdateMOOSVariables(mail);
        return true;
    }
    bool OnCommandMsg(CMOOSMsg msg) override
    {
        std::lock_guard<std::mutex> guard(lock);
        commands.push_back(msg.m_sVal);
        return commandResults.empty() ? true : commandResults[commands.size() - 1];
    }

    size_t CommandCount()
    {
        std::lock_guard<std::mutex> guard(lock);
        return commands.size();
    }
    std::vector<std::string> MailKeys()
    {
        std::lock_guard<std::mutex> guard(lock);
        return mailKeys;
    }
    // The first batch of mail that held every one of the keys, in its order
    // (empty when none did).
    std::vector<std::string> BatchWith(const std::vector<std::string>& wanted)
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& batch : batches)
        {
            size_t found = 0;
            for (const std::string& key : wanted)
                found += std::count(batch.begin(), batch.end(), key) > 0;
            if (found == wanted.size())
                return batch;
        }
        return {};
    }

    std::function<void(ProbeApp&)> onIterate;
    bool startUpResult = true;
    bool registerOnConnect = false;
    bool updateVariables = false;
    std::vector<bool> commandResults;
    std::atomic<bool> startedUp{false};
    std::atomic<int> iterations{0};
    std::atomic<int> connects{0};
    std::atomic<int> disconnects{0};

    std::mutex lock;
    std::vector<std::string> commands;
    std::vector<std::string> mailKeys;
    std::vector<std::vector<std::string>> batches;
    std::thread::id iterateThread;
};

// Runs an application's Run on a thread of its own; joins after asking it to
// quit.
class BackgroundRun
{
public:
    BackgroundRun(CMOOSApp& app, std::string name, std::string mission) : app(app)
    {
        worker = std::thread(
            [this, name, mission]
            {
                result = this->app.Run(name.c_str(), mission.c_str());
                done = true;
            });
    }
    ~BackgroundRun() { Stop(); }

    void Stop()
    {
        if (!worker.joinable())
            return;
        app.RequestQuit();
        worker.join();
    }

    CMOOSApp& app;
    std::atomic<bool> done{false};
    std::atomic<bool> result{false};
    std::thread worker;
};

#endif
