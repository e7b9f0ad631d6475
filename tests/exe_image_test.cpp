// The built exe as Windows sees it: its PE header, its imports, and its
// resources loaded through the real resource API.
#include <gtest/gtest.h>
#include <algorithm>
#include <set>
#include <string.h>

#include "resources/resource.h"
#include "test_support.h"

namespace {

const WORD POLISH = MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT);

std::string ExeBytes()
{
    std::string bytes;
    EXPECT_TRUE(ReadBytes(g_updaterExe, &bytes)) << g_updaterExe;
    return bytes;
}

template <typename T> T At(const std::string &bytes, size_t offset)
{
    T value;
    EXPECT_LE(offset + sizeof(T), bytes.size());
    memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

struct Module {
    HMODULE handle;
    Module() { handle = LoadLibraryExA(g_updaterExe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE); }
    ~Module() { if (handle) FreeLibrary(handle); }
    const BYTE *Resource(LPCSTR type, int id, DWORD *size = NULL)
    {
        HRSRC found = FindResourceExA(handle, type, MAKEINTRESOURCEA(id), POLISH);
        if (!found)
            return NULL;
        if (size)
            *size = SizeofResource(handle, found);
        return (const BYTE *)LockResource(LoadResource(handle, found));
    }
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param)
{
    ((std::set<WORD> *)param)->insert(language);
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    EnumResourceLanguagesA(module, type, name, CollectLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR param)
{
    ((std::set<ULONG_PTR> *)param)->insert((ULONG_PTR)type);
    return TRUE;
}

// Reads a wide string or ordinal field of a dialog template.
const WORD *SkipField(const WORD *p, std::wstring *text, int *ordinal)
{
    *ordinal = -1;
    text->clear();
    if (*p == 0xFFFF) {
        *ordinal = p[1];
        return p + 2;
    }
    while (*p)
        text->push_back((wchar_t)*p++);
    return p + 1;
}

}  // namespace

TEST(ExeImage, IsA32BitGuiProgramForWindows4ImportingOnlySystemDlls)
{
    std::string exe = ExeBytes();
    ASSERT_EQ(exe.substr(0, 2), "MZ");
    size_t pe = At<DWORD>(exe, 0x3C);
    ASSERT_EQ(exe.substr(pe, 4), std::string("PE\0\0", 4));
    IMAGE_FILE_HEADER file = At<IMAGE_FILE_HEADER>(exe, pe + 4);
    EXPECT_EQ(file.Machine, IMAGE_FILE_MACHINE_I386);
    IMAGE_OPTIONAL_HEADER32 opt = At<IMAGE_OPTIONAL_HEADER32>(exe, pe + 24);
    EXPECT_EQ(opt.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(opt.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(opt.MajorSubsystemVersion, 4);
    EXPECT_EQ(opt.MinorSubsystemVersion, 0);

    // Map virtual addresses to file offsets through the section table.
    size_t sections = pe + 24 + file.SizeOfOptionalHeader;
    auto offsetOf = [&](DWORD rva) -> size_t {
        for (int i = 0; i < file.NumberOfSections; i++) {
            IMAGE_SECTION_HEADER s = At<IMAGE_SECTION_HEADER>(exe, sections + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    };
    std::set<std::string> dlls;
    size_t imports = offsetOf(opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    ASSERT_NE(imports, 0u);
    for (;; imports += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR d = At<IMAGE_IMPORT_DESCRIPTOR>(exe, imports);
        if (d.Name == 0)
            break;
        std::string name = exe.c_str() + offsetOf(d.Name);
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        dlls.insert(name);
    }
    EXPECT_EQ(dlls, (std::set<std::string>{ "ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL" }));
    EXPECT_EQ(opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress, 0u);
}

TEST(ExeImage, CarriesOnlyTheWindowIconAndPictureInPolish)
{
    Module exe;
    ASSERT_NE(exe.handle, (HMODULE)NULL);
    std::set<ULONG_PTR> types;
    EnumResourceTypesA(exe.handle, CollectType, (LONG_PTR)&types);
    EXPECT_EQ(types, (std::set<ULONG_PTR>{ (ULONG_PTR)RT_BITMAP, (ULONG_PTR)RT_ICON, (ULONG_PTR)RT_DIALOG,
                                           (ULONG_PTR)RT_GROUP_ICON }));
    std::set<WORD> languages;
    for (ULONG_PTR type : types)
        EnumResourceNamesA(exe.handle, (LPCSTR)type, CollectName, (LONG_PTR)&languages);
    EXPECT_EQ(languages, (std::set<WORD>{ POLISH }));
}

TEST(ExeImage, DialogTemplateIsTheInstallerWindow)
{
    Module exe;
    const BYTE *res = exe.Resource(RT_DIALOG, IDD_INSTALLER);
    ASSERT_NE(res, (const BYTE *)NULL);
    DLGTEMPLATE head;
    memcpy(&head, res, sizeof head);
    EXPECT_EQ(head.style, 0x80C800C0u);
    EXPECT_EQ(head.dwExtendedStyle, 0u);
    EXPECT_EQ(head.cdit, 4);
    EXPECT_EQ(head.x, 0);
    EXPECT_EQ(head.y, 0);
    EXPECT_EQ(head.cx, 298);
    EXPECT_EQ(head.cy, 229);

    const WORD *p = (const WORD *)(res + 18);
    std::wstring text;
    int ordinal;
    p = SkipField(p, &text, &ordinal);
    EXPECT_TRUE(text.empty() && ordinal == -1) << "menu";
    p = SkipField(p, &text, &ordinal);
    EXPECT_TRUE(text.empty() && ordinal == -1) << "class";
    p = SkipField(p, &text, &ordinal);
    EXPECT_EQ(text, L"Valtheria III (PL) - Uaktualnienie 1");
    EXPECT_EQ(*p++, 8);
    p = SkipField(p, &text, &ordinal);
    EXPECT_EQ(text, L"MS Sans Serif");

    struct Expected {
        DWORD style;
        short x, y, cx, cy;
        WORD id;
        int classAtom;
        const wchar_t *className;
        const wchar_t *text;
        int textOrdinal;
    } controls[] = {
        { 0x50010001, 68, 208, 75, 14, IDC_INSTALL, 0x80, L"BUTTON", L"Instaluj", -1 },
        { 0x50010000, 216, 208, 75, 14, IDC_CANCEL, 0x80, L"BUTTON", L"Anuluj", -1 },
        { 0x50A108C4, 68, 7, 223, 194, IDC_STATUS, 0x81, L"EDIT", L"", -1 },
        { 0x5000100E, 7, 7, 15, 13, 0xFFFF, 0x82, L"STATIC", L"", IDB_SIDEBAR },
    };
    for (const Expected &want : controls) {
        p = (const WORD *)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        DLGITEMTEMPLATE item;
        memcpy(&item, p, sizeof item);
        SCOPED_TRACE(want.id);
        EXPECT_EQ(item.style, want.style);
        EXPECT_EQ(item.dwExtendedStyle, 0u);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.id, want.id);
        p = (const WORD *)((const BYTE *)p + sizeof item);
        // The class is either the predefined atom or its name.
        p = SkipField(p, &text, &ordinal);
        if (ordinal != -1)
            EXPECT_EQ(ordinal, want.classAtom);
        else
            EXPECT_EQ(_wcsicmp(text.c_str(), want.className), 0);
        p = SkipField(p, &text, &ordinal);
        EXPECT_EQ(text, want.text);
        EXPECT_EQ(ordinal, want.textOrdinal);
        WORD extra = *p++;
        p = (const WORD *)((const BYTE *)p + extra);
    }
}

TEST(ExeImage, IconIsOne32x32ImageIn16Colours)
{
    Module exe;
    DWORD size = 0;
    const BYTE *group = exe.Resource(RT_GROUP_ICON, IDI_INSTALLER, &size);
    ASSERT_NE(group, (const BYTE *)NULL);
    const WORD *dir = (const WORD *)group;
    ASSERT_EQ(dir[2], 1) << "images in the group";
    const BYTE *entry = group + 6;
    EXPECT_EQ(entry[0], 32);
    EXPECT_EQ(entry[1], 32);
    EXPECT_EQ(entry[2], 16);
    WORD bitCount, iconId;
    memcpy(&bitCount, entry + 6, 2);
    memcpy(&iconId, entry + 12, 2);
    EXPECT_EQ(bitCount, 4);
    const BYTE *image = exe.Resource(RT_ICON, iconId);
    ASSERT_NE(image, (const BYTE *)NULL);
    BITMAPINFOHEADER info;
    memcpy(&info, image, sizeof info);
    EXPECT_EQ(info.biWidth, 32);
    EXPECT_EQ(info.biHeight, 64);
    EXPECT_EQ(info.biBitCount, 4);

    HICON icon = (HICON)LoadImageA(exe.handle, MAKEINTRESOURCEA(IDI_INSTALLER), IMAGE_ICON, 32, 32, 0);
    EXPECT_NE(icon, (HICON)NULL);
}

TEST(ExeImage, SidebarIsAn82x349PictureIn256Colours)
{
    Module exe;
    const BYTE *res = exe.Resource(RT_BITMAP, IDB_SIDEBAR);
    ASSERT_NE(res, (const BYTE *)NULL);
    BITMAPINFOHEADER info;
    memcpy(&info, res, sizeof info);
    EXPECT_EQ(info.biWidth, 82);
    EXPECT_EQ(info.biHeight, 349);
    EXPECT_EQ(info.biBitCount, 8);
    EXPECT_TRUE(info.biClrUsed == 0 || info.biClrUsed == 256);

    HBITMAP bitmap = (HBITMAP)LoadImageA(exe.handle, MAKEINTRESOURCEA(IDB_SIDEBAR), IMAGE_BITMAP, 0, 0, 0);
    ASSERT_NE(bitmap, (HBITMAP)NULL);
    BITMAP shape;
    GetObjectA(bitmap, sizeof shape, &shape);
    EXPECT_EQ(shape.bmWidth, 82);
    EXPECT_EQ(shape.bmHeight, 349);
    DeleteObject(bitmap);
}
