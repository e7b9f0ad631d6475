// The corrected unit files, checked against a description of their own:
// sections, keys in order, the few values that are set, and the bytes of
// the Polish letters in CP1250.
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <vector>

#include "update/unit_ini_texts.h"

namespace {

typedef std::vector<std::string> Lines;
typedef std::map<std::string, std::string> Values;

Lines Words(const char *list)
{
    Lines words;
    std::istringstream in(list);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

void AddSection(Lines &out, const char *name, const char *keys, const Values &values, const std::string &prefix,
                const std::string &otherwise)
{
    out.push_back(std::string("[") + name + "]");
    for (const std::string &key : Words(keys)) {
        auto v = values.find(key);
        out.push_back(key + "=" + (v == values.end() ? otherwise : prefix + v->second));
    }
}

// Splits on CR LF; fails on a stray CR or LF or a missing final break.
Lines SplitCrLf(const std::string &text)
{
    Lines lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "last line without CR LF";
        if (end == std::string::npos)
            break;
        std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray CR or LF in: " << line;
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

const char MODERN[] = "Wsp\xF3\xB3" "czesno\x9C\xE6";  // "Współczesność" in CP1250
const char SETTLER_KEYS[] =
    "BLANK DEFAULT WALK RUN ATTACK1 ATTACK2 ATTACK3 DEFEND DEATH DEAD FORTIFY FORTIFYHOLD FIDGET VICTORY "
    "TURNLEFT TURNRIGHT BUILD ROAD MINE IRRIGATE FORTRESS CAPTURE STOP_AT_LAST_FRAME PauseROAD PauseMINE "
    "PauseIRRIGATE JUNGLE FOREST PauseFOREST";

void AddHead(Lines &out)
{
    out.insert(out.end(), { "[Speed]", "Normal Speed=225", "Fast Speed=225", "" });
}

void AddTail(Lines &out)
{
    out.insert(out.end(), { "[Version]", "VERSION=1", "[Palette]", "PALETTE=" });
}

}  // namespace

TEST(UnitIniTexts, SettlerIsExactly)
{
    std::string art = std::string("..\\Osadnik ") + MODERN + "\\";
    Lines expected;
    AddHead(expected);
    AddSection(expected, "Animations", SETTLER_KEYS,
               { { "DEFAULT", "SettlerModernDefault.flc" }, { "RUN", "SettlerModernRun.flc" },
                 { "DEATH", "SettlerModernDeath.flc" }, { "FIDGET", "SettlerModernFidget.flc" },
                 { "BUILD", "SettlerModernBuild.flc" }, { "CAPTURE", "SettlerModernCaptured.flc" } },
               art, "");
    AddSection(expected, "Timing", SETTLER_KEYS, {}, "", "0.500000");
    AddSection(expected, "Sound Effects", SETTLER_KEYS,
               { { "RUN", "SettlerRun.amb" }, { "FIDGET", "SettlerFidget.wav" }, { "BUILD", "SettlerBuild.wav" } },
               art, "");
    AddTail(expected);

    std::string text(SETTLER_INI_TEXT, SETTLER_INI_LENGTH);
    EXPECT_EQ(SETTLER_INI_LENGTH, 1663);
    EXPECT_EQ(SETTLER_INI_TEXT[SETTLER_INI_LENGTH], '\0');
    Lines lines = SplitCrLf(text);
    EXPECT_EQ(lines.size(), 98u);
    EXPECT_EQ(lines, expected);
}

TEST(UnitIniTexts, WorkerIsExactly)
{
    std::string art = std::string("..\\Robotnik ") + MODERN + "\\";
    Lines expected;
    AddHead(expected);
    AddSection(expected, "Animations",
               "BLANK DEFAULT WALK RUN ATTACK1 ATTACK2 ATTACK3 DEATH DEAD FORTIFY FIDGET VICTORY BUILD ROAD MINE "
               "IRRIGATE FORTRESS CAPTURE JUNGLE FOREST PLANT STOP_AT_LAST_FRAME",
               { { "DEFAULT", "WorkerModernDefault.flc" }, { "RUN", "WorkerModernRun.flc" },
                 { "DEATH", "workerModernDeath.flc" }, { "ROAD", "workerModernRoad.flc" },
                 { "MINE", "workerModernMine.flc" }, { "IRRIGATE", "workerModernIrrigate.flc" },
                 { "FORTRESS", "workerModernFortress.flc" }, { "CAPTURE", "workerModernCaptured.flc" },
                 { "JUNGLE", "workerModernJungle.flc" }, { "FOREST", "workerModernForest.flc" },
                 { "PLANT", "workerModernPlant.flc" } },
               art, "");
    expected.push_back("");
    AddSection(expected, "Timing",
               "BLANK DEFAULT WALK RUN ATTACK1 ATTACK2 ATTACK3 DEFEND DEATH DEAD FORTIFY FORTIFYHOLD FIDGET "
               "VICTORY TURNLEFT TURNRIGHT BUILD ROAD MINE IRRIGATE FORTRESS CAPTURE STOP_AT_LAST_FRAME "
               "PauseROAD PauseMINE PauseIRRIGATE JUNGLE PauseJungle FOREST PauseFOREST PLANT",
               {}, "", "0.500000");
    expected.push_back("");
    AddSection(expected, "Sound Effects",
               "BLANK DEFAULT WALK RUN ATTACK1 ATTACK2 ATTACK3 DEFEND DEATH DEAD FORTIFY FORTIFYHOLD FIDGET "
               "VICTORY TURNLEFT TURNRIGHT BUILD ROAD MINE IRRIGATE JUNGLE FOREST FORTRESS CAPTURE PLANT "
               "STOP_AT_LAST_FRAME",
               { { "RUN", "WorkerModernRun.amb" }, { "DEATH", "WorkerModernDeath.wav" },
                 { "ROAD", "workerModernRoad.amb" }, { "MINE", "workerModernMine.amb" },
                 { "IRRIGATE", "workerModernIrrigate.amb" }, { "JUNGLE", "WorkerModernJungle.amb" },
                 { "FOREST", "WorkerModernForest.amb" }, { "FORTRESS", "WorkerModernFortress.amb" },
                 { "CAPTURE", "WorkerModernCapture.wav" }, { "PLANT", "workerModernPlant.amb" } },
               art, "");
    AddTail(expected);

    std::string text(WORKER_INI_TEXT, WORKER_INI_LENGTH);
    EXPECT_EQ(WORKER_INI_LENGTH, 2161);
    Lines lines = SplitCrLf(text);
    EXPECT_EQ(lines.size(), 92u);
    EXPECT_EQ(lines, expected);
}

TEST(UnitIniTexts, OnlyTheModernFolderNameLeavesAscii)
{
    for (const std::string &text : { std::string(SETTLER_INI_TEXT, SETTLER_INI_LENGTH),
                                     std::string(WORKER_INI_TEXT, WORKER_INI_LENGTH) }) {
        std::string rest = text;
        size_t at;
        int names = 0;
        while ((at = rest.find(MODERN)) != std::string::npos) {
            rest.erase(at, sizeof MODERN - 1);
            names++;
        }
        EXPECT_GT(names, 0);
        for (unsigned char c : rest)
            ASSERT_LT(c, 0x80) << "unexpected non-ASCII byte";
    }
}
