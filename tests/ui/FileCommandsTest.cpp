// The view's file commands through the scripted file choosers and message boxes, and a file named
// on the command line.
#include <cstdio>
#include <filesystem>

#include <gtk/gtk.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>

#include "chips/ChipCatalogue.h"
#include "tests/ui/UiTestSupport.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"
#include "ui/OstrelView.h"

namespace {

// 02 00 30 at address 0, then the end record.
const char* const HEX_FILE = ":03000000020030CB\r\n:00000001FF\r\n";
const char* const HEX_FILE_2 = ":01001000559A\r\n:00000001FF\r\n";

class FileCommandsTest : public CAppFixture {
protected:
    void SetUp() override {
        CAppFixture::SetUp();
        m_dir = MakeTempDir();
        RememberFirmwareFile(""); // a run that has used no firmware file yet
    }
    void Command(int id) {
        wxCommandEvent command(wxEVT_MENU, id);
        Frame()->ProcessWindowEvent(command);
    }
    void SelectChip(int index) { Command(ID_CHIP_FIRST + index); }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    bool Blank() {
        const auto& b = View()->Buffer();
        for (int i = 0; i < b.m_imageSize; ++i)
            if (b.m_image[i] != 0xFF)
                return false;
        return true;
    }
    std::string m_dir;
    CScriptedChoosers m_choosers;
    CScriptedMessages m_messages;
};

TEST_F(FileCommandsTest, OpenLoadsTheChosenHexFile) {
    WriteFile(Path("Firmware.HEX"), HEX_FILE);
    View()->OnVScroll(ScrollCode::Bottom, 0);
    m_choosers.openPath = Path("Firmware.HEX");
    Command(ID_OPEN_HEX_FILE);
    ASSERT_EQ(m_choosers.openRequests.size(), 1u);
    const FileChooserRequest& request = m_choosers.openRequests[0];
    EXPECT_EQ(request.filter, "Intel HEX files (*.hex,*.ihx)|*.hex;*.ihx|Raw Binary Files (*.bin)|*.bin");
    EXPECT_TRUE(request.initialName.empty());
    EXPECT_TRUE(request.defaultExtension.empty());
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, "HEX file loaded successfully");
    EXPECT_EQ(m_messages.shown[0].caption, "Veltro 51");
    EXPECT_EQ(m_messages.shown[0].style, wxOK | wxICON_INFORMATION);
    const auto& b = View()->Buffer();
    EXPECT_EQ(b.m_image[0], 0x02);
    EXPECT_EQ(b.m_image[1], 0x00);
    EXPECT_EQ(b.m_image[2], 0x30);
    EXPECT_EQ(b.m_image[3], 0xFF);
    EXPECT_EQ(Frame()->GetTitle(), "Firmware.HEX - Veltro 51");
    EXPECT_EQ(View()->TopRow(), 0);
}

TEST_F(FileCommandsTest, CancelledOpenChangesNothing) {
    View()->Buffer().m_image[5] = 0x12;
    m_choosers.openPath = "";
    Command(ID_OPEN_HEX_FILE);
    EXPECT_TRUE(m_messages.shown.empty());
    EXPECT_EQ(View()->Buffer().m_image[5], 0x12);
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
}

TEST_F(FileCommandsTest, FailedOpensShowTheirMessagesAndLeaveABlankUntitledImage) {
    struct Case {
        const char* name;
        int size; // bytes of a binary file; -1: no file
        std::vector<wxString> messages;
    };
    const Case cases[] = {
        {"big.bin", 4097, {"File Too Large for Selected MCU", "Cannot Load BIN File"}},
        {"missing.bin", -1, {"Cannot Load BIN File"}},
        {"missing.hex", -1, {"Cannot open hex file"}},
    };
    SelectChip(2); // AT89S51: 4096 bytes
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("good.hex"), HEX_FILE);
        m_choosers.openPath = Path("good.hex");
        Command(ID_OPEN_HEX_FILE);
        m_messages.shown.clear();
        if (c.size >= 0)
            WriteFile(Path(c.name), std::string(static_cast<size_t>(c.size), '\x11'));
        m_choosers.openPath = Path(c.name);
        Command(ID_OPEN_HEX_FILE);
        EXPECT_EQ(m_messages.Texts(), c.messages);
        for (const auto& shown : m_messages.shown)
            EXPECT_EQ(shown.style, wxOK | wxICON_ERROR);
        EXPECT_TRUE(Blank());
        EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
        m_messages.shown.clear();
        Command(ID_RELOAD_FILES);
        EXPECT_TRUE(m_messages.shown.empty()) << "nothing is remembered to reload";
    }
}

TEST_F(FileCommandsTest, BinaryFileOfExactlyTheFlashSizeLoads) {
    SelectChip(2);
    WriteFile(Path("a.b.bin"), std::string(4096, '\x5A'));
    m_choosers.openPath = Path("a.b.bin");
    Command(ID_OPEN_HEX_FILE);
    EXPECT_EQ(m_messages.Texts(), std::vector<wxString>{"BIN File loaded successfully"});
    EXPECT_EQ(View()->Buffer().m_image[4095], 0x5A);
    EXPECT_EQ(Frame()->GetTitle(), "a.b.bin - Veltro 51");
}

TEST_F(FileCommandsTest, ReloadReadsTheRememberedFileAgain) {
    WriteFile(Path("fw.hex"), HEX_FILE);
    m_choosers.openPath = Path("fw.hex");
    Command(ID_OPEN_HEX_FILE);
    m_messages.shown.clear();
    WriteFile(Path("fw.hex"), HEX_FILE_2);
    View()->OnVScroll(ScrollCode::Bottom, 0);
    Command(ID_RELOAD_FILES);
    EXPECT_TRUE(m_messages.shown.empty());
    EXPECT_EQ(View()->Buffer().m_image[0], 0xFF) << "records no longer in the file are blank";
    EXPECT_EQ(View()->Buffer().m_image[0x10], 0x55);
    EXPECT_EQ(View()->TopRow(), 0);
    EXPECT_EQ(Frame()->GetTitle(), "fw.hex - Veltro 51");

    std::filesystem::remove(Path("fw.hex"));
    Command(ID_RELOAD_FILES);
    EXPECT_EQ(
        m_messages.Texts(),
        (std::vector<wxString>{"Cannot open hex file", "Cannot Reload Files. File Not Found or Corrupted"}));
    EXPECT_EQ(Frame()->GetTitle(), "fw.hex - Veltro 51");
}

TEST_F(FileCommandsTest, SaveWritesIntelHexUnderTheChosenName) {
    View()->Buffer().m_image[0] = 0x02;
    View()->Buffer().m_image[1] = 0x00;
    View()->Buffer().m_image[2] = 0x30;
    View()->Buffer().m_image[3000] = 0x00; // beyond the 2048-byte bound: not saved
    m_choosers.savePath = Path("out");
    Command(ID_FILE_SAVE);
    ASSERT_EQ(m_choosers.saveRequests.size(), 1u);
    const FileChooserRequest& request = m_choosers.saveRequests[0];
    EXPECT_EQ(request.filter, "Intel HEX file (*.hex)|*.hex");
    EXPECT_EQ(request.initialName, "myFirmware");
    EXPECT_EQ(request.defaultExtension, "hex");
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_TRUE(m_messages.shown.empty());
    EXPECT_EQ(ReadFile(Path("out.hex")), ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB\r\n:00000001FF\r\n");
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
}

TEST_F(FileCommandsTest, SaveThatCannotWriteSaysSo) {
    m_choosers.savePath = Path("no/such/folder/x.hex");
    Command(ID_FILE_SAVE);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, "Cannot Write to file");
    EXPECT_EQ(m_messages.shown[0].style, wxOK | wxICON_ERROR);
}

TEST_F(FileCommandsTest, CancelledSaveWritesNothing) {
    m_choosers.savePath = "";
    Command(ID_FILE_SAVE);
    EXPECT_TRUE(m_messages.shown.empty());
    EXPECT_TRUE(std::filesystem::is_empty(m_dir));
}

TEST_F(FileCommandsTest, OpenAndSaveStartInTheFolderLastUsed) {
    // The program runs in another folder (the menu entry starts it in the data folder).
    const std::string home = MakeTempDir(), dataFolder = MakeTempDir(), other = MakeTempDir();
    const char* savedHome = std::getenv("HOME");
    const std::string previousHome = savedHome ? savedHome : "";
    ::setenv("HOME", home.c_str(), 1);
    const auto savedCwd = std::filesystem::current_path();
    std::filesystem::current_path(dataFolder);
    WriteFile(Path("a.hex"), HEX_FILE);

    m_choosers.openPath = Path("a.hex");
    Command(ID_OPEN_HEX_FILE); // nothing used yet: home
    m_choosers.openPath = "";
    Command(ID_OPEN_HEX_FILE); // after a.hex; cancelled, which changes nothing
    m_choosers.savePath = other + "/b";
    Command(ID_FILE_SAVE); // still a.hex's folder
    Command(ID_OPEN_HEX_FILE);
    Command(ID_FILE_SAVE); // after the save into the other folder

    std::filesystem::current_path(savedCwd);
    ::setenv("HOME", previousHome.c_str(), 1);
    ASSERT_EQ(m_choosers.openRequests.size(), 3u);
    ASSERT_EQ(m_choosers.saveRequests.size(), 2u);
    EXPECT_EQ(m_choosers.openRequests[0].initialFolder, home);
    EXPECT_EQ(m_choosers.openRequests[1].initialFolder, m_dir);
    EXPECT_EQ(m_choosers.saveRequests[0].initialFolder, m_dir);
    EXPECT_EQ(m_choosers.openRequests[2].initialFolder, other);
    EXPECT_EQ(m_choosers.saveRequests[1].initialFolder, other);
}

// The platform's dialog as the choosers make it: its starting folder, and what its filters list (by
// GTK's own filter test, as the dialog applies it to each file it shows).
TEST_F(FileCommandsTest, RealDialogsStartInTheFolderAndListExtensionsInAnyCase) {
    struct Case {
        const char* filter;
        long style;
        std::vector<std::pair<const char*, bool>> names; // by filter index: listed under the first?
    };
    for (const Case& c :
         {Case{OPEN_FILTER,
               wxFD_OPEN,
               {{"FIRMWARE.HEX", true},
                {"Firmware.Ihx", true},
                {"blink.hex", true},
                {"blink.bin", false},
                {"notes.txt", false},
                {"hex", false}}},
          Case{SAVE_FILTER, wxFD_SAVE, {{"OUT.HEX", true}, {"out.hex", true}, {"out.ihx", false}}}}) {
        const FileChooserRequest request{Frame(), c.filter, wxString(), wxString(), false, m_dir};
        const auto dialog = MakeFileDialog(request, c.style);
        EXPECT_EQ(dialog->GetDirectory(), m_dir) << c.filter;
        // Titled as the desktop's Open and Save As, centred over and kept above the main window.
        GtkWindow* window = GTK_WINDOW(dialog->GetHandle());
        EXPECT_STREQ(gtk_window_get_title(window), c.style == wxFD_OPEN ? "Open" : "Save As");
        EXPECT_EQ(gtk_window_get_transient_for(window), GTK_WINDOW(Frame()->GetHandle()));
        GtkWindowPosition position = GTK_WIN_POS_NONE;
        g_object_get(window, "window-position", &position, nullptr);
        EXPECT_EQ(position, GTK_WIN_POS_CENTER_ON_PARENT);
        GSList* filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(dialog->GetHandle()));
        ASSERT_TRUE(filters) << c.filter;
        auto* first = GTK_FILE_FILTER(filters->data);
        EXPECT_STREQ(gtk_file_filter_get_name(first), wxString(c.filter).BeforeFirst('|').utf8_str());
        for (const auto& [name, listed] : c.names) {
            GtkFileFilterInfo info{};
            info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
            info.display_name = name;
            EXPECT_EQ(gtk_file_filter_filter(first, &info) != FALSE, listed) << name;
        }
        if (c.style == wxFD_OPEN) {
            ASSERT_TRUE(filters->next);
            GtkFileFilterInfo info{};
            info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
            info.display_name = "FIRMWARE.BIN";
            EXPECT_TRUE(gtk_file_filter_filter(GTK_FILE_FILTER(filters->next->data), &info)) << "raw binary";
        }
        g_slist_free(filters);
    }
}

TEST(DefaultExtension, IsAddedOnlyToNamesWithoutOne) {
    EXPECT_EQ(WithDefaultExtension("/tmp/out", "hex"), "/tmp/out.hex");
    EXPECT_EQ(WithDefaultExtension("/tmp/out.hex", "hex"), "/tmp/out.hex");
    EXPECT_EQ(WithDefaultExtension("/tmp/out.txt", "hex"), "/tmp/out.txt");
    EXPECT_EQ(WithDefaultExtension("/tmp/v1.2/out", "hex"), "/tmp/v1.2/out.hex");
}

class CommandLineFileTest : public FileCommandsTest {
protected:
    CommandLineFileTest() { m_autoStart = false; }
    void StartWithFile(const std::string& path) {
        StartupOptions options;
        options.file = path;
        Start(options);
    }
};

TEST_F(CommandLineFileTest, NamedFileLoadsAsOpenWould) {
    WriteFile(Path("boot.hex"), HEX_FILE);
    StartWithFile(Path("boot.hex"));
    EXPECT_EQ(m_messages.Texts(), std::vector<wxString>{"HEX file loaded successfully"});
    EXPECT_EQ(View()->Buffer().m_image[0], 0x02);
    EXPECT_EQ(Frame()->GetTitle(), "boot.hex - Veltro 51");
    EXPECT_TRUE(m_choosers.openRequests.empty()) << "no dialog";
    EXPECT_EQ(FirmwareFolder(), m_dir) << "the dialogs start in its folder";
    m_messages.shown.clear();
    WriteFile(Path("boot.hex"), HEX_FILE_2);
    Command(ID_RELOAD_FILES);
    EXPECT_EQ(View()->Buffer().m_image[0x10], 0x55) << "Reload reloads the named file";
}

// A name that is not UTF-8 (a Latin-1 "é" here) still loads its file, and Reload finds it again.
TEST_F(CommandLineFileTest, NameThatIsNotUtf8LoadsItsFile) {
    const std::string path = Path("caf\xE9.hex");
    WriteFile(path, HEX_FILE);
    StartWithFile(path);
    EXPECT_EQ(m_messages.Texts(), std::vector<wxString>{"HEX file loaded successfully"});
    EXPECT_EQ(View()->Buffer().m_image[0], 0x02);
    EXPECT_EQ(View()->Buffer().m_sourcePath, path);
    EXPECT_TRUE(Frame()->GetTitle().StartsWith("caf")) << Frame()->GetTitle();
    EXPECT_TRUE(Frame()->GetTitle().EndsWith(".hex - Veltro 51")) << Frame()->GetTitle();
    WriteFile(path, HEX_FILE_2);
    Command(ID_RELOAD_FILES);
    EXPECT_EQ(View()->Buffer().m_image[0x10], 0x55);
}

TEST_F(CommandLineFileTest, NamedFileThatFailsLeavesAnUntitledBlankImage) {
    StartWithFile(Path("absent.hex"));
    EXPECT_EQ(m_messages.Texts(), std::vector<wxString>{"Cannot open hex file"});
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
    EXPECT_TRUE(Blank());
    EXPECT_TRUE(Frame()->IsShown()) << "the application goes on";
}

} // namespace
