// The guided wiring test as the tool runs it: the player's scan thread on the simulated key
// bed, a user pressing keys from another thread while the session is pumped, and the JSON a
// script reads at the end.

#include "device/WiringSession.h"

#include <gtest/gtest.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/WiringReportWriter.h"
#include "platform/ch341/SimulatedKeyBed.h"

namespace device {
namespace {

using namespace std::chrono_literals;
using platform::ch341::SimulatedKeyBed;

// A user at the key bed, on a thread of their own. Time is counted in the scan's own reads,
// so a press lasts as many scans however busy the machine is.
class User {
public:
    explicit User(SimulatedKeyBed& bed) : bed_(bed) {}

    // Waits until every row was read `scans` more times; false after 10 s without that.
    bool Scans(int scans) {
        const int target = bed_.GetInputCalls() + scans * KeyScanner::kRows;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (bed_.GetInputCalls() < target) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    // The guided steps: the walk from the lowest key to the highest, then each chord.
    bool DoTheSteps() {
        bool ok = Scans(2);
        for (int key = 0; key < WiringCheck::kKeys && ok; ++key) {
            bed_.Press(key);
            ok = Scans(3);
            bed_.Release(key);
            ok = ok && Scans(2);
        }
        for (const auto& chord : WiringCheck::kChords) {
            for (const int key : chord.keys) {
                bed_.Press(key);
            }
            ok = ok && Scans(4);
            for (const int key : chord.keys) {
                bed_.Release(key);
            }
            ok = ok && Scans(2);
        }
        return ok && Scans(2);
    }

private:
    SimulatedKeyBed& bed_;
};

struct SessionRun {
    bool started = false;
    bool stayedOpen = true;
    bool userFinished = false;
    WiringReport report;
    std::vector<std::string> lines;
};

// Starts a session, lets `act` play on its own thread while the session is pumped as the
// tool pumps it, then finishes.
SessionRun RunSession(SimulatedKeyBed& bed, std::chrono::nanoseconds period,
                      const std::function<bool(User&)>& act) {
    SessionRun run;
    WiringSession session(
        bed, [&run](std::string_view line) { run.lines.emplace_back(line); }, period);
    run.started = session.Start(0);
    if (!run.started) {
        run.report = session.Finish();
        return run;
    }
    std::atomic<bool> done{false};
    std::thread user([&] {
        User u(bed);
        run.userFinished = act(u);
        done = true;
    });
    while (!done && run.stayedOpen) {
        run.stayedOpen = session.Pump();
        std::this_thread::sleep_for(20ms);
    }
    user.join();
    run.stayedOpen = run.stayedOpen && session.Pump();
    run.report = session.Finish();
    return run;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The fault set the tool is held to, at the player's own 25 ms scan over 1 ms transfers: a
// dead key, a chattering switch and two swapped column lines, each named in the JSON.
TEST(WiringSession, NamesADeadKeyAChatteringSwitchAndSwappedColumnsInItsJson) {
    SimulatedKeyBed bed;
    bed.SetSwitchFault(20, SimulatedKeyBed::SwitchFault::Dead);
    bed.SetSwitchFault(40, SimulatedKeyBed::SwitchFault::Chatter);
    bed.SwapLines(7, 9);  // columns 3 and 5
    const SessionRun run =
        RunSession(bed, KeyScanThread::kPeriod, [](User& u) { return u.DoTheSteps(); });
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.userFinished);
    EXPECT_TRUE(run.stayedOpen);

    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(WiringReportWriter::Json(run.report)));
    ASSERT_TRUE(doc.isObject());
    std::vector<std::string> named;
    for (const QJsonValue& value : doc.object()["findings"].toArray()) {
        const QJsonObject f = value.toObject();
        QString text = f["kind"].toString();
        for (const QJsonValue& line : f["lines"].toArray()) {
            text += " line " + QString::number(line.toInt());
        }
        for (const QJsonValue& key : f["keys"].toArray()) {
            text += " key " + QString::number(key.toInt());
        }
        named.push_back(text.toStdString());
    }
    EXPECT_EQ(named, (std::vector<std::string>{"swapped_column_lines line 7 line 9",
                                               "dead_key key 20", "chattering_switch key 40"}));
    EXPECT_FALSE(doc.object()["sound"].toBool(true));
    EXPECT_TRUE(doc.object()["chord_held"].toBool());
    EXPECT_EQ(doc.object()["keys_seen"].toInt(), 48);

    // The guidance followed the user through the steps.
    EXPECT_EQ(run.lines.front().rfind("Step 1: press every key once", 0), 0U);
    EXPECT_TRUE(Has(run.lines, "  chord 1: keys 0, 1 and 9 (notes 36, 37 and 45)"));
    EXPECT_TRUE(Has(run.lines, "key 0 (row 0, column 0, note 36)"));
    EXPECT_TRUE(Has(run.lines, "Step 1 done."));
    EXPECT_TRUE(Has(run.lines, "Hold chord 4: keys 7, 8 and 16 (notes 43, 44 and 52)."));
    EXPECT_TRUE(Has(run.lines, "All steps done: press Enter for the report."));
}

// Without diodes the guidance shows the ghost with the chord, and the report names it.
TEST(WiringSession, ChordStepsShowTheGhostOfAMatrixWithoutDiodes) {
    SimulatedKeyBed bed{true, std::chrono::microseconds::zero()};
    bed.SetDiodes(false);
    const SessionRun run = RunSession(bed, 3ms, [](User& u) { return u.DoTheSteps(); });
    ASSERT_TRUE(run.userFinished);
    EXPECT_TRUE(Has(run.lines, "Chord 1: keys 0, 1, 9 and 10 went down."));
    EXPECT_TRUE(Has(run.lines, "Chord 3: keys 38, 39, 47 and 48 went down."));
    ASSERT_EQ(run.report.findings.size(), 4U);
    for (const auto& f : run.report.findings) {
        EXPECT_EQ(f.kind, WiringFinding::Kind::GhostKey);
    }
}

// The session cannot go on without its key bed: not there at the start, pulled out, or a
// chip that stops answering. Each ends in a bounded time and reports it.
TEST(WiringSession, EndsWhenTheKeyBedIsMissingOrGoesAway) {
    {
        SCOPED_TRACE("absent");
        SimulatedKeyBed bed{false, std::chrono::microseconds::zero()};
        const SessionRun run = RunSession(bed, 3ms, [](User&) { return true; });
        EXPECT_FALSE(run.started);
        EXPECT_TRUE(run.lines.empty());
        EXPECT_EQ(run.report.scans, 0);
    }
    {
        SCOPED_TRACE("pulled out");
        SimulatedKeyBed bed{true, std::chrono::microseconds::zero()};
        const SessionRun run = RunSession(bed, 3ms, [&bed](User& u) {
            const bool ok = u.Scans(5);
            bed.Unplug();
            std::this_thread::sleep_for(200ms);
            return ok;
        });
        EXPECT_TRUE(run.started);
        EXPECT_FALSE(run.stayedOpen);
    }
    {
        SCOPED_TRACE("no answer");
        SimulatedKeyBed bed{true, std::chrono::microseconds::zero()};
        bed.FailReads(-1);
        const SessionRun run = RunSession(bed, 3ms, [](User&) {
            std::this_thread::sleep_for(300ms);
            return true;
        });
        EXPECT_TRUE(run.started);
        EXPECT_FALSE(run.stayedOpen);
        EXPECT_EQ(run.report.scans, 0);
    }
}

}  // namespace
}  // namespace device
