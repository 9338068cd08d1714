// The About box and the help commands.
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "Version.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/AboutDlg.h"
#include "ui/Help.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"

namespace {

TEST(DescrambleText, LowersPrintableCharactersBy3_4_1ByPosition) {
    struct Case {
        const char* stored;
        size_t capacity;
        const char* plain;
    };
    const Case cases[] = {
        {"dfd", 4, "abc"},
        {"#", 2, " "},
        {"", 1, ""},
        {"dfd", 1, ""},
        {"dfdgeg", 4, "abc"}, // cut to the capacity
        {"d\nd", 4, "a\nc"},  // a newline passes and still counts
        {"d\x7f"
         "d",
         4,
         "a\x7f"
         "c"}, // 127 is not printable
        {"\xc3\xa9"
         "d",
         4,
         "\xc3\xa9"
         "c"}, // bytes of 128 and above pass
    };
    for (const Case& c : cases) {
        char out[16];
        std::fill(std::begin(out), std::end(out), '*');
        EXPECT_TRUE(DescrambleText(c.stored, out, c.capacity));
        EXPECT_STREQ(out, c.plain) << "stored " << c.stored;
        EXPECT_EQ(out[std::strlen(c.plain) + 1], '*') << "nothing written past the terminator";
    }
    char untouched = '*';
    EXPECT_TRUE(DescrambleText("dfd", &untouched, 0));
    EXPECT_EQ(untouched, '*');
}

class AboutHelpTest : public CAppFixture {};

TEST_F(AboutHelpTest, AboutBoxShowsItsTextsEachTimeItOpens) {
    for (int round = 0; round < 2; ++round) {
        CAboutDlg dialog(Frame());
        dialog.InitDialog();
        EXPECT_EQ(dialog.GetTitle(), "About Veltro 51");
        auto text = [&](int id) {
            return dynamic_cast<wxStaticText*>(dialog.FindWindow(id))->GetLabelText();
        };
        // The build's version and copyright line, the same that --version and the packages show.
        EXPECT_EQ(text(IDC_ABOUT_VERSION), wxString("Veltro 51 Version ") + VELTRO_VERSION);
        EXPECT_EQ(text(IDC_ABOUT_COPYRIGHT), VELTRO_COPYRIGHT);
        EXPECT_TRUE(text(IDC_ABOUT_DESCRIPTION)
                        .StartsWith("An Easy To Use USB Port Based Programmer for Popular AT89SXX MCUs\n\n"));
        EXPECT_EQ(dialog.m_versionLine, wxString("Veltro 51 Version ") + VELTRO_VERSION);
        auto* ok = dynamic_cast<wxButton*>(dialog.FindWindow(wxID_OK));
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->GetLabel(), "OK");
        EXPECT_EQ(dialog.GetDefaultItem(), ok);
    }
    // The plain lines are nowhere in the program's data.
    EXPECT_EQ(std::string(g_scrambledVersionLine).find("Version"), std::string::npos);
    EXPECT_EQ(std::string(g_scrambledCopyrightLine).find("Copyright"), std::string::npos);
}

TEST_F(AboutHelpTest, AboutCommandRunsTheBoxModally) {
    wxString shownVersion;
    CallAfterModal([&] {
        auto* dialog = dynamic_cast<CAboutDlg*>(wxGetActiveWindow());
        if (!dialog)
            for (wxWindow* w : wxTopLevelWindows)
                if ((dialog = dynamic_cast<CAboutDlg*>(w)))
                    break;
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->IsModal());
        shownVersion = dialog->m_versionLine;
        dialog->EndModal(wxID_OK);
    });
    wxCommandEvent about(wxEVT_MENU, ID_APP_ABOUT);
    Frame()->ProcessWindowEvent(about);
    EXPECT_EQ(shownVersion, wxString("Veltro 51 Version ") + VELTRO_VERSION);
}

class HelpTest : public CAppFixture {
protected:
    void SetUp() override {
        CAppFixture::SetUp();
        m_savedCwd = std::filesystem::current_path();
        m_dir = MakeTempDir();
        std::filesystem::current_path(m_dir);
        m_previous = SetDocumentLauncher([this](const wxString& path, std::function<void()> failed) {
            m_launched.push_back(path);
            m_failed = failed;
            return m_launchStarts;
        });
        m_previousData = SetInstalledDataFolder(wxString());
    }
    void TearDown() override {
        SetInstalledDataFolder(m_previousData);
        SetDocumentLauncher(m_previous);
        std::filesystem::current_path(m_savedCwd);
        CAppFixture::TearDown();
    }
    void InstallPages() {
        std::filesystem::create_directory("Help");
        for (const char* page : {"Installation", "Tutorial", "Reading"})
            WriteFile(std::string("Help/") + page + ".htm", "<html></html>");
    }
    void Command(int id) {
        wxCommandEvent command(wxEVT_MENU, id);
        Frame()->ProcessWindowEvent(command);
    }
    std::filesystem::path m_savedCwd;
    std::string m_dir;
    DocumentLauncher m_previous;
    wxString m_previousData;
    std::vector<wxString> m_launched;
    std::function<void()> m_failed;
    bool m_launchStarts = true;
    CScriptedMessages m_messages;
};

TEST_F(HelpTest, EachCommandOpensItsPageUnderTheWorkingDirectory) {
    InstallPages();
    for (int id : {ID_HELP_INSTALLATION, ID_HELP_TUTORIAL, ID_HELP_READING, ID_HELP_INDEX})
        Command(id);
    const std::vector<wxString> expected = {m_dir + "/Help/Installation.htm", m_dir + "/Help/Tutorial.htm",
                                            m_dir + "/Help/Reading.htm", m_dir + "/Help/Tutorial.htm"};
    EXPECT_EQ(m_launched, expected);
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(HelpTest, MissingPageSaysCannotLocateAndAMissingBrowserSaysSo) {
    Command(ID_HELP_TUTORIAL); // no pages here
    EXPECT_TRUE(m_launched.empty());
    InstallPages();
    std::filesystem::remove("Help/Reading.htm");
    std::filesystem::create_directory("Help/Reading.htm"); // a folder is no page
    Command(ID_HELP_READING);
    m_launchStarts = false;
    Command(ID_HELP_INSTALLATION); // no program can be started
    m_launchStarts = true;
    Command(ID_HELP_TUTORIAL);
    ASSERT_TRUE(m_failed);
    m_failed(); // the program started and then failed
    const wxString missing = "Cannot Locate Help File. Please Reinstall.";
    const wxString noBrowser = wxString(MSG_HELP_NO_BROWSER) + "\n";
    const std::vector<wxString> expected = {missing, missing, noBrowser + m_dir + "/Help/Installation.htm",
                                            noBrowser + m_dir + "/Help/Tutorial.htm"};
    std::vector<wxString> texts;
    for (const auto& shown : m_messages.shown) {
        texts.push_back(shown.text);
        EXPECT_EQ(shown.caption, "Veltro 51");
        EXPECT_EQ(shown.style, wxOK | wxICON_ERROR);
    }
    EXPECT_EQ(texts, expected);
}

// Started from any folder, the pages of the installed data folder are found; pages under the
// working directory come first.
TEST_F(HelpTest, PagesOfTheInstalledDataFolderAreFoundAfterTheWorkingDirectory) {
    const std::string data = MakeTempDir();
    std::filesystem::create_directory(data + "/Help");
    WriteFile(data + "/Help/Tutorial.htm", "<html></html>");
    WriteFile(data + "/Help/Reading.htm", "<html></html>");
    SetInstalledDataFolder(data);
    std::filesystem::create_directory("Help");
    WriteFile("Help/Reading.htm", "<html></html>");
    for (int id : {ID_HELP_TUTORIAL, ID_HELP_READING, ID_HELP_INSTALLATION})
        Command(id);
    EXPECT_EQ(m_launched, (std::vector<wxString>{data + "/Help/Tutorial.htm", m_dir + "/Help/Reading.htm"}));
    ASSERT_EQ(m_messages.shown.size(), 1u) << "Installation is in neither place";
    EXPECT_EQ(m_messages.shown[0].text, "Cannot Locate Help File. Please Reinstall.");
}

TEST_F(HelpTest, WorksUnderAWorkingDirectoryLongerThan1024Characters) {
    std::string deep = m_dir;
    while (deep.size() < 1200) {
        deep += "/a-long-folder-name-to-pass-the-old-limit";
        std::filesystem::create_directory(deep);
    }
    std::filesystem::current_path(deep);
    InstallPages();
    Command(ID_HELP_INSTALLATION);
    ASSERT_EQ(m_launched.size(), 1u);
    EXPECT_EQ(m_launched[0], deep + "/Help/Installation.htm");
    EXPECT_TRUE(m_messages.shown.empty());
}

} // namespace
