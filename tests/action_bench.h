#pragma once
#include "actions/activate.h"

#include <string>
#include <vector>

// The records an action works on, and a port that answers as told and remembers what it was asked.
namespace actionbench {

struct Diagnosed {
    DiagnosticStage stage;
    uint32_t clicks; // the UI's counters at the moment of the record
    bool queued;
    int64_t browserResult;
};

struct FakePort final : ActionPort {
    const UiState* ui = nullptr;
    int64_t shellResult = 42;
    bool accepts = true;
    std::vector<std::wstring> opened;
    std::vector<uint32_t> posts;
    int refreshes = 0;
    std::vector<Diagnosed> diagnosed;

    int64_t openUrl(const wchar_t* url) override {
        opened.emplace_back(url);
        return shellResult;
    }
    bool post(uint32_t bits) override {
        posts.push_back(bits);
        return accepts;
    }
    void requestRefresh() override { ++refreshes; }
    void diagnose(DiagnosticStage stage) override {
        diagnosed.push_back({stage, ui->linkClicks, ui->lastLinkQueued, ui->lastBrowserResult});
    }
    std::vector<DiagnosticStage> stages() const {
        std::vector<DiagnosticStage> out;
        for (const Diagnosed& d : diagnosed)
            out.push_back(d.stage);
        return out;
    }
};

struct Bench {
    UiState ui;
    LinkState link;
    LauncherConfig config{};
    SceneLibrary scenes;
    FakePort port;
    bool maximised = false;
    uint64_t now = 5000; // GetTickCount64 of the action

    Bench() {
        port.ui = &ui;
        ui.linkingEnabled = true;
        ui.screen = Linking;
        ui.focus = LinkSteamButton;
    }
    // The service's configuration loaded and nothing in progress.
    void connected() {
        link.configLoaded = true;
        link.discordEnabled = true;
    }
    void readyToPlay() {
        connected();
        link.steamLinked = link.discordLinked = link.ready = true;
    }
    ActionOutcome press(HitTarget control) {
        ActionRecords r{ui, link, config, scenes, now, maximised, port};
        return activate(control, r);
    }
    ActionOutcome pump(const LinkPull& pull) {
        ActionRecords r{ui, link, config, scenes, now, maximised, port};
        return pumpLinkService(pull, r);
    }
};

} // namespace actionbench
