// Links planted in the game folder by someone else, as junctions are on
// Windows: the program, run as administrator, must never turn a rename, a
// write or a delete through one of them against anything outside the game.
#include "harness.h"

namespace {

// Outside the game: a whole game of its own, with files of the very names
// the program writes and removes, and one holding the beginning of the new
// settler text, as a replacement cut short would.
const char OUTSIDE[] = "C:\\Obcy";
const std::string OUTSIDE_GAME = std::string(OUTSIDE) + "\\Valtheria III";
const std::string SETTLER_DIR = "\\Art\\Units\\Osadnik Era Przemysłowa";
const std::string PREFIX_OF_NEW = std::string(OUTSIDE) + "\\poczatek.tmp";
const std::string TMP = ".tmp";

void MakeOutside()
{
    RemoveTree(OUTSIDE);
    MakeSampleGame(OUTSIDE_GAME);
    WriteBytes(OUTSIDE_GAME + SETTLER_INI + ".tmp", "cudzy plik osadnika");
    WriteBytes(OUTSIDE_GAME + WORKER_INI + ".tmp", "cudzy plik robotnika");
    WriteBytes(PREFIX_OF_NEW, SETTLER_NEW.substr(0, 100));
}

// Where each link is planted (under the game, or C:\Gry for the folder
// above it), what it points to, whether it comes while the window is
// open, and the log and the steps on disk (read through the links) the
// run must end with.
struct Link {
    // No target: the outside file of the same name. A target under the
    // game ("\\..."): what stands at the link's place moves there first.
    std::string at, target;
};
struct LinkCase {
    const char *name;
    Link links[2];
    bool whileOpen;
    const char *log;
    int steps;
} const LINK_CASES[] = {
    // Where the link names a folder beside it, only its being a link tells.
    { "a unit folder linked to one beside it", { { SETTLER_DIR.c_str(), "\\Art\\Units\\Osadnik kopia" } }, false,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", 2 },
    { "a linked Art\\Units", { { "\\Art\\Units", OUTSIDE_GAME + "\\Art\\Units" } }, false, STEP_ONE_FAILED, 0 },
    { "a linked game folder", { { "", OUTSIDE_GAME } }, false, STEP_ONE_FAILED, 0 },
    { "a linked folder above the game", { { "..", OUTSIDE } }, false, STEP_ONE_FAILED, 0 },
    { "a settler INI that is a link", { { SETTLER_INI, OUTSIDE_GAME + SETTLER_INI } }, false,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", 2 },
    { "a link under the replacement's name while the window is open", { { WORKER_INI + TMP, "" } }, true,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... błąd!\r\n", 2 },
    { "links under the replacements' names at start", { { SETTLER_INI + TMP, PREFIX_OF_NEW }, { WORKER_INI + TMP, "" } }, false,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", 2 },
    { "no link anywhere", {}, false, FULL_RUN_LOG, 4 },
};

bool Used(const Link &link)
{
    return !link.at.empty() || !link.target.empty();
}

// Where a link of a row stands: "" is the game folder, ".." the folder above.
std::string LinkPath(const Link &link)
{
    return link.at == ".." ? "C:\\Gry" : GAME_DIR + link.at;
}

void Plant(const Link &link)
{
    std::string path = LinkPath(link);
    std::string target = link.target.empty() ? OUTSIDE_GAME + link.at : link.target;
    if (target[0] == '\\')
        ASSERT_TRUE(MoveFileA(path.c_str(), (target = GAME_DIR + target).c_str()));
    RemoveTree(path);
    DeleteFileA(path.c_str());
    ASSERT_TRUE(PlantLink(path, target)) << path;
}

TEST_F(Updater, NoLinkInTheGameFolderTurnsAChangeAgainstAnythingOutsideIt)
{
    for (const LinkCase &c : LINK_CASES) {
        SCOPED_TRACE(c.name);
        MakeOutside();
        std::map<std::string, std::string> before, after;
        Snapshot(OUTSIDE, before, true);
        UseGame(GAME_DIR);
        for (const Link &link : c.links)
            if (Used(link) && !c.whileOpen)
                Plant(link);
        HWND dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        for (const Link &link : c.links)
            if (Used(link) && c.whileOpen)
                Plant(link);
        PressButton(dialog, IDC_INSTALL);
        std::string log = Welcome(game.dir) + c.log;
        if (c.steps == 4)
            Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(dialog) == log; })) << LogText(dialog);
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
        EXPECT_EQ(StepsOnDisk(), c.steps);
        if (c.steps == 4)
            ExpectSteps(4);
        for (const Link &link : c.links)
            if (Used(link))
                RemoveLink(LinkPath(link));
        Snapshot(OUTSIDE, after, true);
        EXPECT_EQ(Changes(before, after), std::set<std::string>()) << "outside the game";
    }
    RemoveTree(OUTSIDE);
}

}  // namespace
