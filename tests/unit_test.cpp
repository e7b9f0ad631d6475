// The program's own functions on the prefix's registry, disk and windows.
#include "harness.h"

#include "installer/installer_dialog.h"
#include "installer/status_log.h"
#include "update/game_files.h"
#include "update/game_location.h"
#include "update/path_guard.h"

namespace {

TEST(StatusLog, ShowsEachPieceAndLineBreakAndNeverGrowsPastItsBuffer)
{
    g_hDlg = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
    CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_MULTILINE, 0, 0, 300, 200, g_hDlg, (HMENU)IDC_STATUS, NULL, NULL);
    ASSERT_EQ(CreateStatus(), 0);
    auto box = [] { return WindowText(GetDlgItem(g_hDlg, IDC_STATUS)); };
    AppendStatus("Krok 1... ");
    EXPECT_EQ(box(), "Krok 1... ");
    // A thousand failed attempts' worth: cut at the buffer, all that fits shown.
    std::string expected = "Krok 1... ";
    for (int i = 0; i < 1000; i++, expected += "b\xB3\xB9" "d!\r\nKrok 1... ") {
        AppendStatus("błąd!");
        EXPECT_EQ(AppendStatus(NULL), 0);
        AppendStatus("Krok 1... ");
    }
    EXPECT_EQ(strlen(g_statusText), (size_t)STATUS_CAPACITY - 1);
    EXPECT_EQ(box(), expected.substr(0, STATUS_CAPACITY - 1));
    FreeStatus();
    EXPECT_EQ(g_statusText, (char *)NULL);
    FreeStatus();
    AppendStatus("Krok 2... ");  // harmless once freed
    EXPECT_EQ(box(), expected.substr(0, STATUS_CAPACITY - 1));
    DestroyWindow(g_hDlg);
}

// The registry value as a setup or a stray tool could leave it, in every
// type: `chars` letters, then `nuls` NULs; accepted, it is the letters.
struct RegistryCase {
    int chars, nuls;
    bool accepted;
} const REGISTRY_CASES[] = {
    { 0, 0, false }, { 0, 1, false },                      // empty: no entry
    { 1, 0, true }, { 1, 1, true }, { 248, 2, true },       // a double NUL that still fits
    { 249, 0, true }, { 249, 1, true }, { 249, 2, false },  // the longest folder
    { 250, 0, false }, { 250, 1, false }, { 1000, 1, false },
};

// Letters where the next call's locals will be, to show a read past the data.
__attribute__((noinline)) void DirtyStack()
{
    volatile char junk[16384];
    for (size_t i = 0; i < sizeof junk; i++)
        junk[i] = 'X';
}

TEST(InstallPath, EveryTypeAndLengthHasItsOutcomeAndNothingIsWrittenPastTheText)
{
    char dest[512];
    DeleteGameKey();
    memset(dest, 'Q', sizeof dest);
    EXPECT_EQ(ReadInstallPath(dest), -1);
    ASSERT_TRUE(SetInstallPath("C:\\Gry\\Przygoda Średniowiecze"));
    EXPECT_EQ(ReadInstallPath(dest), 1);
    EXPECT_STREQ(dest, "C:\\Gry\\Przygoda \x8C" "redniowiecze");
    for (DWORD type : { REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD })
        for (const RegistryCase &c : REGISTRY_CASES) {
            SCOPED_TRACE(testing::Message() << "type " << type << ", " << c.chars << " chars, " << c.nuls << " NULs");
            std::string data = std::string(c.chars, 'a') + std::string(c.nuls, '\0');
            ASSERT_TRUE(SetInstallValue(type, data.data(), (DWORD)data.size()));
            memset(dest, 'Q', sizeof dest);
            DirtyStack();
            EXPECT_EQ(ReadInstallPath(dest), c.accepted ? 1 : -1);
            std::string expected = c.accepted ? std::string(c.chars, 'a') + '\0' : "";
            expected += std::string(sizeof dest - expected.size(), 'Q');
            // The rest of the caller's 256 bytes may hold anything; past them, nothing.
            if (c.accepted)
                memset(dest + c.chars + 1, 'Q', 256 - c.chars - 1);
            EXPECT_EQ(std::string(dest, sizeof dest), expected);
        }
    DeleteGameKey();
}

// Which listed files and folders are links: reparse points whose documented
// tags name another place, or whose tag the listing did not give (Wine's).
struct ListingCase {
    const char *name;
    DWORD attributes, tag;
    bool link;
} const LISTING_CASES[] = {
    { "mount point or junction", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, 0xA0000003, true },
    { "symbolic link", FILE_ATTRIBUTE_REPARSE_POINT, 0xA000000C, true },
    { "Linux subsystem's link", FILE_ATTRIBUTE_REPARSE_POINT, 0xA000001D, true },
    { "tag unreadable", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, 0, true },
    { "cloud files", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, 0x9000001A, false },
    { "OneDrive folder (cloud files 7)", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, 0x9000701A, false },
    { "compressed (WOF)", FILE_ATTRIBUTE_REPARSE_POINT, 0x80000017, false },
    { "deduplicated", FILE_ATTRIBUTE_REPARSE_POINT, 0x80000013, false },
    { "storage-managed (HSM)", FILE_ATTRIBUTE_REPARSE_POINT, 0xC0000004, false },
    { "no reparse point, a stray tag field", FILE_ATTRIBUTE_DIRECTORY, 0xA0000003, false },
};

TEST(Listing, OnlyAReparsePointNamingAnotherPlaceOrWithoutATagIsALink)
{
    for (const ListingCase &c : LISTING_CASES)
        EXPECT_EQ(ListedAsLink(c.attributes, c.tag), c.link) << c.name;
}

// A folder is held only when every part of its path stands as a folder:
// a missing one is never taken for a name yet to be created. While it is
// held, no program moves it or a folder on its way.
struct HoldCase {
    const char *path;
    bool held;
} const HOLD_CASES[] = {
    { "C:\\zapis\\gra", true },
    { "C:\\zapis\\..\\zapis\\gra\\", true },
    { "C:\\zapis\\brak\\gra", false },
    { "C:\\zapis\\gra\\brak", false },
    { "C:\\zapis\\plik.ini\\gra", false },
};

TEST(PathGuard, HoldsAFolderOnlyWhenEveryPartStandsAndNothingOnItsWayMovesMeanwhile)
{
    RemoveTree("C:\\zapis");
    MakeFolders("C:\\zapis\\gra");
    ASSERT_TRUE(WriteBytes("C:\\zapis\\plik.ini", "x"));
    for (const HoldCase &c : HOLD_CASES) {
        HeldFolder folder;
        EXPECT_EQ(HoldFolder(c.path, &folder), c.held) << c.path;
        for (const char *onTheWay : { "C:\\zapis", "C:\\zapis\\gra" })
            if (c.held) {
                EXPECT_FALSE(MoveFileA(onTheWay, "C:\\inna")) << onTheWay;
                EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION) << onTheWay;
            }
        ReleaseFolder(&folder);
    }
    EXPECT_TRUE(MoveFileA("C:\\zapis", "C:\\inna"));
    RemoveTree("C:\\inna");
}

// Which errors a rename, replace or removal waits out: a file another
// program holds; not what no wait cures (gone, read-only media, a full
// disk, a name that is no folder), which fails its step at once.
TEST(GameFiles, OnlyAFileHeldByAnotherProgramIsWaitedFor)
{
    for (DWORD error : { ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED })
        EXPECT_TRUE(IsHeldByAnotherProgram(error)) << error;
    for (DWORD error : { ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ALREADY_EXISTS, ERROR_DIRECTORY,
                         ERROR_WRITE_PROTECT, ERROR_DISK_FULL, ERROR_FILENAME_EXCED_RANGE })
        EXPECT_FALSE(IsHeldByAnotherProgram(error)) << error;
}

// The game file and a file under its replacement's name ("<no folder>":
// nor their folder) before and after a write of the new text (which holds
// a NUL), or the next start's settling of what a cut run left there. A
// name the program did not fill is never written through nor removed.
const std::string NEW_TEXT("nowy tekst\0jednostki\r\n", 22), PART = NEW_TEXT.substr(0, 7);
enum FileCall { WRITE, WRITE_READ_ONLY, SETTLE };
struct FileCase {
    const char *name;
    FileCall call;
    std::string game, leftover, gameAfter, leftoverAfter;
} const FILE_CASES[] = {
    { "a longer file written", WRITE, std::string(30, 'o'), "<missing>", NEW_TEXT, "<missing>" },
    { "no file yet written", WRITE, "<missing>", "<missing>", NEW_TEXT, "<missing>" },
    { "the replacement's name taken at a write", WRITE, "stary", "cudzy", "stary", "cudzy" },
    { "a read-only file not written", WRITE_READ_ONLY, "stary", "<missing>", "stary", "<missing>" },
    { "no folder to write in", WRITE, "<no folder>", "<missing>", "<no folder>", "<no folder>" },
    { "no leftover", SETTLE, "stary", "<missing>", "stary", "<missing>" },
    { "cut before a byte was written", SETTLE, "stary", "", "stary", "<missing>" },
    { "cut while writing", SETTLE, "stary", PART, "stary", "<missing>" },
    { "cut before it took the name", SETTLE, "stary", NEW_TEXT, "stary", "<missing>" },
    { "cut after the game file gave way", SETTLE, "<missing>", NEW_TEXT, NEW_TEXT, "<missing>" },
    { "cut while writing, the game file gone", SETTLE, "<missing>", PART, "<missing>", "<missing>" },
    { "another program's file", SETTLE, "stary", "cudzy", "stary", "cudzy" },
    { "longer than the text", SETTLE, "stary", NEW_TEXT + "x", "stary", NEW_TEXT + "x" },
};

TEST(GameFiles, AGameFileHoldsEveryNewByteOrIsLeftAsItWasAndOnlyTheProgramsLeftoversGo)
{
    std::string dir = "C:\\zapis", path = dir + "\\Robotnik Era Przemysłowa.ini";
    auto state = [&](const std::string &file) { return Exists(dir) ? Read(file) : "<no folder>"; };
    for (const FileCase &c : FILE_CASES) {
        SCOPED_TRACE(c.name);
        RemoveTree(dir);
        if (c.game != "<no folder>")
            MakeFolders(dir);
        if (c.game[0] != '<')
            ASSERT_TRUE(WriteBytes(path, c.game));
        if (c.leftover != "<missing>")
            ASSERT_TRUE(WriteBytes(path + TMP, c.leftover));
        SetFileAttributesA(path.c_str(), c.call == WRITE_READ_ONLY ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
        if (c.call == SETTLE)
            SettleLeftoverReplacement(path.c_str(), NEW_TEXT.data(), NEW_TEXT.size());
        else
            EXPECT_EQ(WriteWholeFile(path.c_str(), NEW_TEXT.data(), NEW_TEXT.size()), c.gameAfter == NEW_TEXT);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(state(path), c.gameAfter);
        EXPECT_EQ(state(path + TMP), c.leftoverAfter);
    }
    RemoveTree(dir);
    EXPECT_EQ(ProbeFileLength("C:\\windows\\win.ini"), (long)Read("C:\\windows\\win.ini").size());
    EXPECT_EQ(ProbeFileLength("C:\\brak.ini"), 0);
    EXPECT_EQ(ProbeFileLength("C:\\windows"), 0);
}

// The corrected unit files, byte for byte with the NUL after: sections and
// keys in the game's order, Polish letters in CP1250, CR LF every line.
TEST(UnitIniTexts, AreExactlyTheCorrectedSettlerAndWorkerFiles)
{
    EXPECT_EQ(SETTLER_INI_LENGTH, 1663);
    EXPECT_EQ(Fnv1a(SETTLER_INI_TEXT, SETTLER_INI_LENGTH + 1), 0xd5e5921fd6b9a74dull);
    EXPECT_EQ(WORKER_INI_LENGTH, 2161);
    EXPECT_EQ(Fnv1a(WORKER_INI_TEXT, WORKER_INI_LENGTH + 1), 0x5d974b89a0a4efa0ull);
}

}  // namespace
