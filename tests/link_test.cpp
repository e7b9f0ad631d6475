// Links planted in the game folder by someone else, as junctions are on
// Windows: the program, run as administrator, must never turn a rename, a
// write or a delete through one of them against anything outside the game,
// nor take one for its work done.
#include "harness.h"

namespace {

// Outside the game: a whole game of its own, with files of the very names
// the program writes and removes, and one holding the beginning of the new
// settler text, as a replacement cut short would.
const char OUTSIDE[] = "C:\\Obcy";
const std::string OUTSIDE_GAME = std::string(OUTSIDE) + "\\Valtheria III";
const std::string SETTLER_DIR = "\\Art\\Units\\Osadnik Era Przemysłowa";
const std::string SETTLER_COPY = "\\Art\\Units\\Osadnik kopia";
const std::string PREFIX_OF_NEW = std::string(OUTSIDE) + "\\poczatek.tmp";

void MakeOutside()
{
    RemoveTree(OUTSIDE);
    MakeSampleGame(OUTSIDE_GAME);
    WriteBytes(OUTSIDE_GAME + SETTLER_INI + TMP, "cudzy plik osadnika");
    WriteBytes(OUTSIDE_GAME + WORKER_INI + TMP, "cudzy plik robotnika");
    WriteBytes(PREFIX_OF_NEW, SETTLER_NEW.substr(0, 100));
}

// Where each link is planted (under the game, or C:\Gry for the folder
// above it) and what it points to (none: the outside file of the same
// name), what is done to the game first, whether the links come while the
// window is open, and the log and the disk (read through the links) the
// run must end with (the outside's replacements seen through them).
struct Link {
    std::string at, target;
    bool Used() const { return !at.empty() || !target.empty(); }
};
struct LinkCase {
    const char *name;
    Link links[2];
    void (*arrange)(const std::string &game);
    bool whileOpen;
    const char *log, *onDisk;
} const LINK_CASES[] = {
    // Where the link names a folder beside it, only its being a link tells.
    { "a unit folder linked to one beside it", { { SETTLER_DIR, GAME_DIR + SETTLER_COPY } },
      [](const std::string &g) { ASSERT_TRUE(MoveFileA((g + SETTLER_DIR).c_str(), (g + SETTLER_COPY).c_str())); },
      false, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old old" },
    { "a linked Art\\Units", { { "\\Art\\Units" } }, NULL, false, STEP_ONE_FAILED, "0 0 old+tmp old+tmp" },
    { "a linked game folder", { { "", OUTSIDE_GAME } }, NULL, false, STEP_ONE_FAILED, "0 0 old+tmp old+tmp" },
    { "a linked folder above the game", { { "..", OUTSIDE } }, NULL, false, STEP_ONE_FAILED, "0 0 old+tmp old+tmp" },
    { "a settler INI that is a link", { { SETTLER_INI } }, NULL, false,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old old" },
    // As a run cut short would leave the leader INI but for the link.
    { "the leader INI's right name a link, its folder renamed",
      { { std::string(LEADER_DIR_RIGHT) + LEADER_INI_RIGHT, OUTSIDE_GAME + LEADER_DIR_WRONG + LEADER_INI_WRONG } },
      [](const std::string &g) {
          ASSERT_TRUE(MoveFileA((g + LEADER_DIR_WRONG).c_str(), (g + LEADER_DIR_RIGHT).c_str()));
          ASSERT_TRUE(DeleteFileA((g + LEADER_DIR_RIGHT + LEADER_INI_WRONG).c_str()));
      },
      false, STEP_ONE_FAILED, "2 0 old old" },
    { "a link under the replacement's name while the window is open", { { WORKER_INI + TMP } }, NULL, true,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... błąd!\r\n", "2 2 old old+tmp" },
    { "links under the replacements' names at start", { { SETTLER_INI + TMP, PREFIX_OF_NEW }, { WORKER_INI + TMP } },
      NULL, false, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old+tmp old+tmp" },
    { "no link anywhere", {}, NULL, false, FULL_RUN_LOG, "2 2 new new" },
};

// Where a link of a row stands: "" is the game folder, ".." the folder above.
std::string LinkPath(const Link &link)
{
    return link.at == ".." ? "C:\\Gry" : GAME_DIR + link.at;
}

void Plant(const Link &link)
{
    std::string path = LinkPath(link);
    RemoveTree(path);
    DeleteFileA(path.c_str());
    ASSERT_TRUE(PlantLink(path, link.target.empty() ? OUTSIDE_GAME + link.at : link.target)) << path;
}

TEST_F(Updater, NoLinkInTheGameFolderTurnsAChangeAgainstAnythingOutsideIt)
{
    for (const LinkCase &c : LINK_CASES) {
        SCOPED_TRACE(c.name);
        MakeOutside();
        Entries before = Snapshot(OUTSIDE, true);
        UseGame(GAME_DIR);
        if (c.arrange)
            c.arrange(game.dir);
        auto plant = [&](bool now) {
            for (const Link &link : c.links)
                if (now && link.Used())
                    Plant(link);
        };
        plant(!c.whileOpen);
        HWND dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        plant(c.whileOpen);
        PressButton(dialog, IDC_INSTALL);
        std::string log = Welcome(game.dir) + c.log;
        if (c.log == FULL_RUN_LOG)
            Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(dialog) == log; })) << LogText(dialog);
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
        EXPECT_EQ(OnDisk(), c.onDisk);
        for (const Link &link : c.links)
            if (link.Used())
                RemoveLink(LinkPath(link));
        EXPECT_EQ(Changes(before, Snapshot(OUTSIDE, true)), std::set<std::string>()) << "outside the game";
    }
    RemoveTree(OUTSIDE);
}

}  // namespace
