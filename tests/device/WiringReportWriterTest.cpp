// The wiring report as the builder reads it and as scripts parse it.

#include "device/WiringReportWriter.h"

#include <gtest/gtest.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <string>
#include <vector>

#include "device/WiringCheck.h"

namespace device {
namespace {

using Kind = WiringFinding::Kind;

// A report as a check makes it: key entries filled in, findings as given.
WiringReport ReportWith(std::vector<WiringFinding> findings) {
    WiringReport report;
    report.scans = 300;
    for (int k = 0; k < WiringCheck::kKeys; ++k) {
        report.keys[static_cast<std::size_t>(k)] = {
            .key = k, .row = k / 9, .column = k % 9, .seen = true, .presses = 1};
    }
    report.keysSeen = WiringCheck::kKeys;
    report.chordHeld = true;
    report.findings = std::move(findings);
    return report;
}

QJsonObject Parsed(const std::string& json) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << json;
    return doc.object();
}

// Each finding says the symptom and then the cause, naming lines as the chip has them.
TEST(WiringReportWriter, DescribesEachFindingInTheBuildersTerms) {
    struct Case {
        WiringFinding finding;
        std::vector<std::string> says;
    };
    const std::vector<Case> cases{
        {{.kind = Kind::NoKeysSeen}, {"No key was seen closing", "no line reaches the matrix"}},
        {{.kind = Kind::OpenRowLine, .lines = {16}, .rows = {6}},
         {"No key of row 6 closed", "line 16 (RESET#) is open"}},
        {{.kind = Kind::OpenColumnLine, .lines = {13}, .columns = {8}},
         {"No key of column 8 closed", "line 13 (WAIT#, pin 27) is open"}},
        {{.kind = Kind::SwappedRowLines, .lines = {14, 15}, .rows = {4, 5}},
         {"rows 4 and 5 came out exchanged",
          "line 14 (DATAS#, pin 4) and line 15 (ADDRS#, pin 3) are swapped"}},
        {{.kind = Kind::SwappedColumnLines, .lines = {5, 6}, .columns = {1, 2}},
         {"columns 1 and 2 came out exchanged in every row",
          "line 5 (D5, pin 20) and line 6 (D6, pin 21) are swapped"}},
        {{.kind = Kind::DeadKey, .keys = {30}},
         {"Key 30 (row 3, column 3) never closed", "its row and its column work", "its switch"}},
        {{.kind = Kind::ChatteringSwitch, .keys = {14}, .bounces = 2, .quickPresses = 3},
         {"Key 14 (row 1, column 5) chatters", "2 closings the debounce hid",
          "3 presses right after a release", "its switch"}},
        {{.kind = Kind::StuckKey, .lines = {0, 9}, .keys = {5}, .closedAtStart = true},
         {"Key 5 (row 0, column 5) is stuck closed (closed at the start)",
          "a short between line 0 (D0, pin 15) and line 9 (PEMP, pin 6)"}},
        {{.kind = Kind::StuckKey, .lines = {0, 9}, .keys = {5}, .closedAtEnd = true},
         {"(never released)"}},
        {{.kind = Kind::ClosedWithoutKey, .lines = {16, 10}, .keys = {60}},
         {"Position 60 (row 6, column 6), where there is no key, closed",
          "a short between line 16 (RESET#) and line 10 (INT#, pin 7)",
          "a switch wired to those lines by mistake"}},
        {{.kind = Kind::GhostKey, .keys = {10}, .heldKeys = {0, 1, 9}},
         {"Key 10 (row 1, column 1) closed while keys 0, 1 and 9 were held", "ghost key",
          "diodes are missing in the matrix", "at least at the switch of key 0"}},
        {{.kind = Kind::GhostKey, .keys = {0}, .heldKeys = {1, 9, 10}},
         {"at least at the switch of key 10, the corner across from it"}},
        {{.kind = Kind::ChatteringSwitch, .keys = {14}, .bounces = 1, .quickPresses = 1},
         {"(1 closing the debounce hid, 1 press right after a release)"}},
        {{.kind = Kind::OutOfOrder, .keys = {4, 5}},
         {"Keys 4 and 5 came out of the ascending order", "pressed out of turn"}},
    };
    for (const Case& c : cases) {
        const std::string text = WiringReportWriter::Describe(c.finding);
        for (const std::string& part : c.says) {
            EXPECT_NE(text.find(part), std::string::npos)
                << KindName(c.finding.kind) << ": " << text << "\n  lacks: " << part;
        }
    }
}

TEST(WiringReportWriter, JsonCarriesEveryKeyAndWhatEachFindingNames) {
    WiringReport report = ReportWith({
        {.kind = Kind::SwappedColumnLines, .lines = {7, 9}, .columns = {3, 5}},
        {.kind = Kind::DeadKey, .keys = {20}},
        {.kind = Kind::ChatteringSwitch, .keys = {40}, .bounces = 4, .quickPresses = 2},
        {.kind = Kind::GhostKey, .keys = {10}, .heldKeys = {0, 1, 9}},
    });
    report.keys[20].seen = false;
    report.keys[20].presses = 0;
    report.keys[3].readAs = 5;
    report.keys[3].outOfOrder = true;
    report.keys[5].stuck = true;
    report.keysSeen = 48;
    const QJsonObject root = Parsed(WiringReportWriter::Json(report));

    EXPECT_FALSE(root["sound"].toBool(true));
    EXPECT_EQ(root["scans"].toInt(), 300);
    EXPECT_EQ(root["keys_seen"].toInt(), 48);
    EXPECT_TRUE(root["chord_held"].toBool());
    const QJsonArray keys = root["keys"].toArray();
    ASSERT_EQ(keys.size(), 49);
    for (int k = 0; k < 49; ++k) {
        const QJsonObject key = keys[k].toObject();
        EXPECT_EQ(key["key"].toInt(-1), k);
        EXPECT_EQ(key["row"].toInt(-1), k / 9);
        EXPECT_EQ(key["column"].toInt(-1), k % 9);
        EXPECT_EQ(key["note"].toInt(), 36 + k);
        EXPECT_EQ(key["seen"].toBool(), k != 20);
        EXPECT_EQ(key["presses"].toInt(-1), k == 20 ? 0 : 1);
        EXPECT_EQ(key["bounces"].toInt(-1), 0);
        EXPECT_EQ(key["stuck"].toBool(), k == 5);
        EXPECT_EQ(key["out_of_order"].toBool(), k == 3);
        EXPECT_EQ(key["read_as"].isNull(), k != 3);
    }
    const QJsonObject key48 = keys[48].toObject();
    EXPECT_EQ(key48["row_line"].toInt(), 15);
    EXPECT_EQ(key48["column_line"].toInt(), 7);
    EXPECT_EQ(keys[3].toObject()["read_as"].toInt(), 5);

    const QJsonArray findings = root["findings"].toArray();
    ASSERT_EQ(findings.size(), 4);
    const QJsonObject swap = findings[0].toObject();
    EXPECT_EQ(swap["kind"].toString(), "swapped_column_lines");
    EXPECT_EQ(swap["lines"].toArray(), (QJsonArray{7, 9}));
    EXPECT_EQ(swap["columns"].toArray(), (QJsonArray{3, 5}));
    EXPECT_EQ(swap["line_names"].toArray(),
              (QJsonArray{"line 7 (D7, pin 22)", "line 9 (PEMP, pin 6)"}));
    EXPECT_EQ(findings[1].toObject()["kind"].toString(), "dead_key");
    EXPECT_EQ(findings[1].toObject()["keys"].toArray(), (QJsonArray{20}));
    const QJsonObject chatter = findings[2].toObject();
    EXPECT_EQ(chatter["kind"].toString(), "chattering_switch");
    EXPECT_EQ(chatter["keys"].toArray(), (QJsonArray{40}));
    EXPECT_EQ(chatter["bounces"].toInt(), 4);
    EXPECT_EQ(chatter["quick_presses"].toInt(), 2);
    const QJsonObject ghost = findings[3].toObject();
    EXPECT_EQ(ghost["held_keys"].toArray(), (QJsonArray{0, 1, 9}));
    // The sentence travels with it, quotes and all, as the builder reads it.
    EXPECT_EQ(ghost["text"].toString().toStdString(),
              WiringReportWriter::Describe(report.findings[3]));
    EXPECT_NE(findings[1].toObject()["text"].toString().indexOf("switch's own wiring"), -1);
}

TEST(WiringReportWriter, SoundReportIsSoundInBothForms) {
    const WiringReport report = ReportWith({});
    const QJsonObject root = Parsed(WiringReportWriter::Json(report));
    EXPECT_TRUE(root["sound"].toBool());
    EXPECT_TRUE(root["findings"].toArray().isEmpty());
    const std::string text = WiringReportWriter::Text(report);
    EXPECT_NE(text.find("300 scans, 49 of 49 keys seen."), std::string::npos) << text;
    EXPECT_NE(text.find("No fault found: the key bed is sound."), std::string::npos);
    EXPECT_EQ(text.find("diodes were not checked"), std::string::npos);
}

// The table row of each key: its place, its lines by signal, its note and what was seen.
TEST(WiringReportWriter, TextTableShowsEachKeyAndTheFindings) {
    WiringReport report = ReportWith({{.kind = Kind::DeadKey, .keys = {20}}});
    report.chordHeld = false;
    report.keys[20] = {.key = 20, .row = 2, .column = 2};
    report.keys[3].readAs = 5;
    report.keys[3].outOfOrder = true;
    report.keys[48].bounces = 2;
    report.keys[48].presses = 3;
    const std::string text = WiringReportWriter::Text(report);
    const auto hasLine = [&](const std::string& line) {
        return text.find("\n" + line + "\n") != std::string::npos;
    };
    EXPECT_TRUE(hasLine(" 20    2    2  D2/D6            56  no          0        0  no     ok"))
        << text;
    EXPECT_TRUE(
        hasLine("  3    0    3  D0/D7            39  yes         1        0  no     "
                "out (read as 5)"))
        << text;
    EXPECT_TRUE(hasLine(" 48    5    3  ADDRS#/D7        84  yes         3        2  no     ok"))
        << text;
    EXPECT_NE(text.find("No chord step was held, so the diodes were not checked."),
              std::string::npos);
    EXPECT_NE(text.find("Findings:\n- Key 20 (row 2, column 2) never closed"), std::string::npos);
    EXPECT_NE(text.find("\n1 fault found.\n"), std::string::npos);
}

}  // namespace
}  // namespace device
