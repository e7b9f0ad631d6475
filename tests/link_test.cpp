// Links planted in the game folder, as another user's junctions: no change
// goes through one to anything outside the game, none counts as work done.
#include "harness.h"

namespace {

// Outside: a game of its own with files of the names the program writes
// and removes, and the beginning of the new settler text, as a cut leaves.
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

// Each link's place under the game ("": the game folder, "..": the one
// above) and target (none: the outside's of that name), what is done to
// the game first, whether the links come with the window open, and the
// log and the disk (read through the links) at the end.
struct Link {
    std::string at, target;
    std::string Path() const { return at == ".." ? "C:\\Gry" : GAME_DIR + at; }
};
struct LinkCase {
    const char *name;
    std::vector<Link> links;
    void (*arrange)(const std::string &game);
    bool whileOpen;
    std::string log;
    const char *onDisk;
} const LINK_CASES[] = {
    // Where the link names a folder beside it, only its being a link tells.
    { "a unit folder linked to one beside it", { { SETTLER_DIR, GAME_DIR + SETTLER_COPY } },
      [](const std::string &g) { ASSERT_TRUE(MoveFileA((g + SETTLER_DIR).c_str(), (g + SETTLER_COPY).c_str())); },
      false, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old old" },
    { "a linked Art\\Units", { { "\\Art\\Units" } }, NULL, false, StoppedAt(1), "0 0 old+tmp old+tmp" },
    { "a linked game folder", { { "", OUTSIDE_GAME } }, NULL, false, StoppedAt(1), "0 0 old+tmp old+tmp" },
    { "a linked folder above the game", { { "..", OUTSIDE } }, NULL, false, StoppedAt(1), "0 0 old+tmp old+tmp" },
    { "a settler INI that is a link", { { SETTLER_INI } }, NULL, false,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old old" },
    // As a run cut short would leave the leader INI but for the link.
    { "the leader INI's right name a link, its folder renamed",
      { { std::string(LEADER_DIR_RIGHT) + LEADER_INI_RIGHT, OUTSIDE_GAME + LEADER_DIR_WRONG + LEADER_INI_WRONG } },
      [](const std::string &g) {
          ASSERT_TRUE(MoveFileA((g + LEADER_DIR_WRONG).c_str(), (g + LEADER_DIR_RIGHT).c_str()));
          ASSERT_TRUE(DeleteFileA((g + LEADER_DIR_RIGHT + LEADER_INI_WRONG).c_str()));
      },
      false, StoppedAt(1), "2 0 old old" },
    { "a link under the replacement's name while the window is open", { { WORKER_INI + TMP } }, NULL, true,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... błąd!\r\n", "2 2 old old+tmp" },
    { "links under the replacements' names at start", { { SETTLER_INI + TMP, PREFIX_OF_NEW }, { WORKER_INI + TMP } },
      NULL, false, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old+tmp old+tmp" },
    { "no link anywhere", {}, NULL, false, FULL_RUN_LOG, "2 2 new new" },
};

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
                if (now) {
                    RemoveTree(link.Path());
                    DeleteFileA(link.Path().c_str());
                    ASSERT_TRUE(PlantLink(link.Path(), link.target.empty() ? OUTSIDE_GAME + link.at : link.target));
                }
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
            RemoveLink(link.Path());
        EXPECT_EQ(Changes(before, Snapshot(OUTSIDE, true)), std::set<std::string>()) << "outside the game";
    }
    RemoveTree(OUTSIDE);
}

}  // namespace
