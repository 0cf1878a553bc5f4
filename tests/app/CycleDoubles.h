#pragma once
// Stand-ins for the window and the two handlers, recording what the cycle asks of them.

#include <functional>
#include <string>
#include <vector>

#include "station/ProcessingCycle.h"

class TRecordingView : public TCycleView {
public:
    void SetLamp(TLamp lamp) override
    {
        Events.push_back(lamp == TLamp::Idle ? "led grey" : lamp == TLamp::Busy ? "led yellow" : "led red");
    }
    void ShowRunning(bool running) override { Events.push_back(running ? "Stop   " : "Start  "); }
    void SetStatusText(const std::string& text) override
    {
        Status = text;
        Events.push_back("status " + text);
    }
    void RepaintStatus() override { ++Repaints; }
    void ShowImageTime(std::uint8_t channel, const std::string& text) override
    {
        Times.push_back(std::to_string(channel) + " " + text);
    }

    std::vector<std::string> Events;
    std::vector<std::string> Times;
    std::string Status;
    int Repaints = 0;
};

class TFakeGoesHandler : public TGoesFileHandler {
public:
    using TProcess = std::function<bool(const std::string&, TGoesFileResult&)>;
    bool ProcessGoesFile(const std::string& path, TGoesFileResult& result) override
    {
        Calls.push_back(path);
        Next.push_back(NextFile);
        result.SavedFileName.clear();
        result.Skipped = false;
        result.SlotTime = 0;
        return Process ? Process(path, result) : false;
    }
    void ShowSavedImage(std::uint8_t channel, const std::string& saved, const std::string& hint) override
    {
        Shown.push_back(std::to_string(channel) + "|" + saved + "|" + hint);
    }

    TProcess Process;
    std::vector<std::string> Calls;
    std::vector<std::string> Next;  // NextFile at each call
    std::vector<std::string> Shown;
};

class TFakeGeoHandler : public TGeoFileHandler {
public:
    void ProcessGeoFile(const std::string& path) override
    {
        Calls.push_back(path);
        if (Throw) throw std::runtime_error("Error in GaussJordan: matrix is singular");
    }
    std::vector<std::string> Calls;
    bool Throw = false;
};
