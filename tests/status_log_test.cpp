// The log against a real edit box: what the player sees is what the box holds.
#include <gtest/gtest.h>
#include <string.h>

#include "installer/installer_dialog.h"
#include "installer/status_log.h"
#include "resources/resource.h"

class StatusLog : public testing::Test {
protected:
    void SetUp() override
    {
        g_hDlg = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
        ASSERT_NE(g_hDlg, (HWND)NULL);
        CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_MULTILINE | ES_READONLY, 0, 0, 300, 200, g_hDlg,
                        (HMENU)IDC_STATUS, NULL, NULL);
        ASSERT_EQ(CreateStatus(), 0);
    }
    void TearDown() override
    {
        FreeStatus();
        DestroyWindow(g_hDlg);
        g_hDlg = NULL;
    }
    std::string Box()
    {
        static char text[16384];
        int n = GetDlgItemTextA(g_hDlg, IDC_STATUS, text, sizeof text);
        return std::string(text, n);
    }
};

TEST_F(StatusLog, NullAppendsOneLineBreak)
{
    EXPECT_EQ(AppendStatus(NULL), 0);
    EXPECT_EQ(Box(), "\r\n");
}

TEST_F(StatusLog, PiecesOfALineShowAsTheyCome)
{
    AppendStatus("Krok 1... ");
    EXPECT_EQ(Box(), "Krok 1... ");
    AppendStatus("błąd!");
    AppendStatus(NULL);
    EXPECT_EQ(Box(), "Krok 1... b\xB3\xB9" "d!\r\n");
}

TEST_F(StatusLog, NeverGrowsPastItsBufferAndShowsWhatFits)
{
    // A thousand failed attempts' worth of lines.
    std::string expected;
    for (int i = 0; i < 1000; i++) {
        AppendStatus("Krok 1... ");
        AppendStatus("błąd!");
        AppendStatus(NULL);
        expected += "Krok 1... b\xB3\xB9" "d!\r\n";
    }
    ASSERT_GT(expected.size(), (size_t)STATUS_CAPACITY);
    EXPECT_EQ(strlen(g_statusText), (size_t)STATUS_CAPACITY - 1);
    EXPECT_EQ(Box(), expected.substr(0, STATUS_CAPACITY - 1));

    // A full log still takes appends without harm.
    AppendStatus("Krok 2... ");
    EXPECT_EQ(Box().size(), (size_t)STATUS_CAPACITY - 1);
}

TEST_F(StatusLog, FreeingTwiceAndAppendingAfterwardsIsHarmless)
{
    AppendStatus("Witamy");
    EXPECT_EQ(FreeStatus(), 0);
    EXPECT_EQ(g_statusText, (char *)NULL);
    EXPECT_EQ(FreeStatus(), 0);
    EXPECT_EQ(AppendStatus("Krok 1... "), 0);
    EXPECT_EQ(Box(), "Witamy");
}
