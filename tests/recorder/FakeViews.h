#pragma once

// The main window as the recorder and the song-file commands see it: widget states kept as
// values, posted tasks queued until the test runs them, dialogs answered from scripts.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "recorder/IRecorderView.h"
#include "recorder/ISongFileView.h"

namespace tests::recorder {

class FakeRecorderView final : public ::recorder::IRecorderView {
public:
    void EnableRecordButton(bool enable) override { record = enable; }
    void EnablePlayButton(bool enable) override { play = enable; }
    void EnableStopButton(bool enable) override { stop = enable; }
    void EnableNewItem(bool enable) override { newItem = enable; }
    void TakeFocus() override { ++focus; }
    void AllNotesOff() override {
        std::lock_guard lock(mutex_);
        ++allNotesOff;
    }
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }

    void PostProgressRange(int low, int high) override {
        std::lock_guard lock(mutex_);
        range = {low, high};
    }
    void PostProgressPos(std::uint32_t position) override {
        std::lock_guard lock(mutex_);
        progress = position;
    }
    void Post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        changed_.notify_all();
    }

    void SendMidiMsg(std::uint32_t msg) override {
        std::lock_guard lock(mutex_);
        sent.push_back(msg);
        changed_.notify_all();
    }
    void PressKey(std::uint8_t note) override { keys.push_back(int(note)); }
    void ReleaseKey(std::uint8_t note) override { keys.push_back(-int(note)); }
    void AddMessage(std::uint8_t note, std::uint8_t velocity, int source) override {
        rows.push_back({note, velocity, source});
    }

    // Runs the posted tasks, as the GUI thread's event loop would.
    void RunPosted() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty())
                    return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }
    // Blocks until `n` tasks are queued.
    void WaitForPosted(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return tasks_.size() >= n; });
    }
    void WaitForSends(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return sent.size() >= n; });
    }
    std::size_t PostedCount() {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    std::vector<std::uint32_t> Sent() {
        std::lock_guard lock(mutex_);
        return sent;
    }

    struct Row {
        std::uint8_t note;
        std::uint8_t velocity;
        int source;
        bool operator==(const Row&) const = default;
    };

    bool record = true;
    bool play = false;
    bool stop = false;
    bool newItem = true;
    int focus = 0;
    int allNotesOff = 0;
    std::vector<std::string> messages;
    std::pair<int, int> range{0, 100};
    std::uint32_t progress = 0;
    std::vector<std::uint32_t> sent;
    std::vector<int> keys;
    std::vector<Row> rows;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
};

class FakeSongFileView final : public ::recorder::ISongFileView {
public:
    std::optional<std::filesystem::path> AskOpenPath() override { return openPath; }
    std::optional<std::filesystem::path> AskSavePath() override { return savePath; }
    std::string AskText(std::string_view prompt) override {
        prompts.emplace_back(prompt);
        if (answers.empty())
            return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessage(std::string_view text, bool stopIcon) override {
        messages.push_back({std::string(text), stopIcon});
    }
    void SetAuthorLabel(std::string_view text) override { authorLabel = text; }
    void SetTitleLabel(std::string_view text) override { titleLabel = text; }
    void EnableSaveItem() override { saveItem = true; }
    std::uint32_t CurrentPortFlags() override { return portFlags.at(std::size_t(portIndex)); }
    int OutputPortCount() override { return int(portFlags.size()); }
    std::uint32_t OutputPortFlags(int index) override { return portFlags.at(std::size_t(index)); }
    void SelectOutputPort(int index) override {
        portIndex = index;
        ++portChanges;
    }
    int InstrumentSelection() override { return instrument; }
    void SelectInstrument(int index) override {
        instrument = index >= 0 && index < 128 ? index : -1;
        ++instrumentChanges;
    }

    struct Message {
        std::string text;
        bool stopIcon;
        bool operator==(const Message&) const = default;
    };

    std::optional<std::filesystem::path> openPath;
    std::optional<std::filesystem::path> savePath;
    std::deque<std::string> answers;
    std::vector<std::string> prompts;
    std::vector<Message> messages;
    std::string authorLabel = "Author:";
    std::string titleLabel = "Title:";
    bool saveItem = false;
    std::vector<std::uint32_t> portFlags{0x10, 0x20, 0x20};
    int portIndex = 0;
    int portChanges = 0;
    int instrument = 0;
    int instrumentChanges = 0;
};

}  // namespace tests::recorder
