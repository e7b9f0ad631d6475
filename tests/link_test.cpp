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
// the game first, when the links come, and the log and the disk (read
// through the links) at the end. A link that comes in a wait takes the
// place of a folder on the way while the run waits for a file held as
// given: this program, as another user's would, moves every entry out of
// the folder through Windows (the held file last, right after letting it
// go; the entry the run changes cannot go), and only a folder left empty,
// as on Windows a junction may then be set on it, gives way to the link
// from the Linux side. Then all is put back, and a run that stopped is
// run again.
struct Link {
    std::string at, target;
    std::string Path() const { return at == ".." ? "C:\\Gry" : GAME_DIR + at; }
    std::string Target() const { return target.empty() ? OUTSIDE_GAME + at : target; }
};
enum When { AT_START, WINDOW_OPEN, IN_A_WAIT };
struct Wait {
    std::string held;
    DWORD share;
    const char *step, *shown;
    std::string heldByRun;
};
struct LinkCase {
    const char *name;
    std::vector<Link> links;
    void (*arrange)(const std::string &game);
    When when;
    std::string log;
    const char *onDisk;
    Wait wait;
} const LINK_CASES[] = {
    // Where the link names a folder beside it, only its being a link tells.
    { "a unit folder linked to one beside it", { { SETTLER_DIR, GAME_DIR + SETTLER_COPY } },
      [](const std::string &g) { ASSERT_TRUE(MoveFileA((g + SETTLER_DIR).c_str(), (g + SETTLER_COPY).c_str())); },
      AT_START, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old old" },
    { "a linked Art\\Units", { { "\\Art\\Units" } }, NULL, AT_START, StoppedAt(1), "0 0 old+tmp old+tmp" },
    { "a linked folder above the game", { { "..", OUTSIDE } }, NULL, AT_START, StoppedAt(1), "0 0 old+tmp old+tmp" },
    { "a settler INI that is a link", { { SETTLER_INI } }, NULL, AT_START,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old old" },
    // As a run cut short would leave the leader INI but for the link.
    { "the leader INI's right name a link, its folder renamed",
      { { std::string(LEADER_DIR_RIGHT) + LEADER_INI_RIGHT, OUTSIDE_GAME + LEADER_DIR_WRONG + LEADER_INI_WRONG } },
      [](const std::string &g) {
          ASSERT_TRUE(MoveFileA((g + LEADER_DIR_WRONG).c_str(), (g + LEADER_DIR_RIGHT).c_str()));
          ASSERT_TRUE(DeleteFileA((g + LEADER_DIR_RIGHT + LEADER_INI_WRONG).c_str()));
      },
      AT_START, StoppedAt(1), "2 0 old old" },
    { "a link under the replacement's name while the window is open", { { WORKER_INI + TMP } }, NULL, WINDOW_OPEN,
      "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... błąd!\r\n", "2 2 old old+tmp" },
    { "links under the replacements' names at start", { { SETTLER_INI + TMP, PREFIX_OF_NEW }, { WORKER_INI + TMP } },
      NULL, AT_START, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", "2 2 old+tmp old+tmp" },
    // The INI the run is to rename is held by the test, so the folder
    // empties and the link comes: what the run then finds there is no
    // INI of the game folder's, and it stops.
    { "the renamed leader folder emptied for a link while step 1 waits for its INI",
      { { LEADER_DIR_RIGHT, OUTSIDE_GAME + LEADER_DIR_WRONG } }, NULL, IN_A_WAIT, StoppedAt(1), "2 2 new new",
      { std::string(LEADER_DIR_WRONG) + LEADER_INI_WRONG, FILE_SHARE_READ | FILE_SHARE_WRITE, "Krok 1... ", "1 0 old old" } },
    // The run holds the settler's replacement, so the folder never empties.
    { "the settler's folder emptied while step 4 waits to replace the settler", { { SETTLER_DIR } }, NULL, IN_A_WAIT,
      FULL_RUN_LOG, "2 2 new new",
      { SETTLER_INI, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, "Krok 4... ", "2 2 old+tmp new",
        SETTLER_INI + TMP } },
    { "no link anywhere", {}, NULL, AT_START, FULL_RUN_LOG, "2 2 new new" },
};

// While the run waits, its folder cannot go, the entry it changes can
// neither move nor be removed, and every other entry moves to aside; the
// folder, if empty, gives way to the link. What moved is then put back.
void EmptyForALink(const LinkCase &c, HANDLE held, std::vector<std::string> &planted,
                   std::vector<std::string> &moved)
{
    const Link &link = c.links[0];
    std::string folder = link.Path(), aside = "C:\\Gry\\odlozone", heldName = strrchr(c.wait.held.c_str(), '\\') + 1;
    EXPECT_FALSE(MoveFileExA(folder.c_str(), (folder + " (przeniesiony)").c_str(), 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION) << "the folder the run works in moved";
    MakeFolders(aside);
    std::vector<std::string> names;
    for (auto &entry : Snapshot(folder, false))
        if (entry.first != folder + "\\" + heldName)
            names.push_back(entry.first.substr(folder.size() + 1));
    names.push_back(heldName);
    for (const std::string &name : names) {
        std::string path = folder + "\\" + name;
        if (name == heldName)
            CloseHandle(held);
        bool out = MoveFileExA(path.c_str(), (aside + "\\" + name).c_str(), 0);
        if (GAME_DIR + c.wait.heldByRun != path) {
            EXPECT_TRUE(out) << name;
        } else {
            EXPECT_FALSE(out || DeleteFileA(path.c_str())) << "the entry the run changes moved";
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
        }
        if (out)
            moved.push_back(name);
    }
    if (Snapshot(folder, false).empty()) {
        RemoveEmptyFolderFromLinux(folder);
        ASSERT_TRUE(PlantLink(folder, link.Target()));
        planted.push_back(folder);
    }
}

void PutBack(const std::string &folder, const std::vector<std::string> &moved)
{
    MakeFolders(folder);
    for (const std::string &name : moved)
        MoveFileExA(("C:\\Gry\\odlozone\\" + name).c_str(), (folder + "\\" + name).c_str(), 0);
    RemoveTree("C:\\Gry\\odlozone");
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
        std::vector<std::string> planted, moved;
        auto plant = [&](When now) {
            for (const Link &link : c.links)
                if (now == c.when) {
                    RemoveTree(link.Path());
                    DeleteFileA(link.Path().c_str());
                    ASSERT_TRUE(PlantLink(link.Path(), link.Target()));
                    planted.push_back(link.Path());
                }
        };
        plant(AT_START);
        HWND dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        plant(WINDOW_OPEN);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.when == IN_A_WAIT)
            held = CreateFileA((game.dir + c.wait.held).c_str(), GENERIC_READ, c.wait.share, NULL, OPEN_EXISTING, 0, NULL);
        PressButton(dialog, IDC_INSTALL);
        if (c.when == IN_A_WAIT) {
            // Still so a moment later: past the checks, well inside the wait.
            auto waits = [&] { return ShowsStep(dialog, c.wait.step, c.wait.shown); };
            EXPECT_TRUE(WaitUntil(WAIT_MS, waits)) << LogText(dialog) << OnDisk();
            EXPECT_FALSE(WaitUntil(500, [&] { return !waits(); })) << LogText(dialog) << OnDisk();
            Freeze(process, true);
            EmptyForALink(c, held, planted, moved);
            Freeze(process, false);
        }
        std::string log = Welcome(game.dir) + c.log;
        if (c.log == FULL_RUN_LOG)
            Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(dialog) == log; })) << LogText(dialog);
        if (c.when == IN_A_WAIT) {
            for (const std::string &link : planted)
                RemoveLink(link);
            planted.clear();
            PutBack(c.links[0].Path(), moved);
            if (c.log != FULL_RUN_LOG)
                Install(dialog, log);
        }
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
        EXPECT_EQ(OnDisk(), c.onDisk);
        for (const std::string &link : planted)
            RemoveLink(link);
        EXPECT_EQ(Changes(before, Snapshot(OUTSIDE, true)), std::set<std::string>()) << "outside the game";
    }
    RemoveTree(OUTSIDE);
}

}  // namespace
