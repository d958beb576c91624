// A stand-in for the person at the window: answers the dialogs from a script
// and records the messages and the cursor.
#pragma once

#include "app/userinteraction.h"
#include "export/hostlauncher.h"
#include "mapview/staticmap.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace qgrad::testing {

struct Message {
    QString text;
    QString detail;
};

class FakeInteraction : public UserInteraction {
public:
    std::deque<std::optional<QString>> openAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    std::deque<std::optional<QString>> folderAnswers;
    QStringList folderStarts;  // where each folder chooser opened
    QStringList suggestedNames;
    QStringList openFolders;  // where each dialog opened
    QStringList saveFolders;
    std::vector<Message> messages;
    bool busy = false;

    std::optional<QString> ChooseFileToOpen(const QString& folder) override {
        openFolders << folder;
        return Next(openAnswers);
    }
    std::optional<QString> ChooseSaveFile(const QString& folder, const QString& suggestedName) override {
        saveFolders << folder;
        suggestedNames << suggestedName;
        return Next(saveAnswers);
    }
    std::optional<QString> ChooseFolder(const QString& folder) override {
        folderStarts << folder;
        return Next(folderAnswers);
    }
    void ShowMessage(const QString& text, const QString& detail) override { messages.push_back({text, detail}); }
    void SetBusyCursor(bool b) override { busy = b; }

private:
    static std::optional<QString> Next(std::deque<std::optional<QString>>& q) {
        std::optional<QString> v;
        if (!q.empty()) {
            v = std::move(q.front());
            q.pop_front();
        }
        return v;
    }
};

class FakeHost : public HostLauncher {
public:
    QStringList started;
    std::vector<QStringList> options;  // each start's words before the script
    std::vector<std::function<void()>> running;  // call one to end that host
    HostStarted answer = HostStarted::LeavesTheMapToUs;
    HostStarted StartGriddingHost(const QString& scriptPath, const QStringList& words, std::function<void()> ended) override {
        started << scriptPath;
        options.push_back(words);
        running.push_back(std::move(ended));
        return answer;
    }
};

// The map service: records the frames asked for and gives `answer`, by
// default as a machine without a network would.
class FakeMaps : public MapFetcher {
public:
    std::vector<MapFrame> asked;
    MapAnswer answer{std::nullopt, MapFailureKind::NoNetwork, "the map request failed: no network in the tests"};
    MapAnswer FetchMap(const MapFrame& frame) override {
        asked.push_back(frame);
        return answer;
    }
};

}  // namespace qgrad::testing
