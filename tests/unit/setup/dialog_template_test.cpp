// The "Select Directory" dialog as the build compiles it.
#include "tests/unit/support/dialog_expect.h"

TEST(SetupResources, SelectDirectoryDialogIsExactlyItsTemplate) {
    // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_CENTER
    zrtest::ExpectDialog(
        101, "Select Directory", 0x80C808C8u, 187, 91,
        {{1, "Button", "OK", 76, 70, 50, 14, 0x50010001u},
         {2, "Button", "Cancel", 130, 70, 50, 14, 0x50010000u},
         {-1, "Static",
          "This program will install Zeta Rune on your computer. Please select a directory or "
          "simply press OK.",
          7, 7, 173, 24, 0x50020000u},
         {1001, "Edit", "", 11, 42, 164, 14, 0x50810080u}});
}

TEST(SetupResources, ManifestAndIcon) {
    std::string manifest = zrtest::ProgramManifest();
    EXPECT_NE(manifest.find("name=\"Velmora.ZetaRune.Installer\" processorArchitecture=\"x86\" "
                            "version=\"1.0.0.0\" type=\"win32\""),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("<description>Zeta Rune Installer</description>"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                            "processorArchitecture=\"x86\""),
              std::string::npos);
    // One 32 x 32 image in 16 colours.
    EXPECT_EQ(zrtest::IconGroup(102), (std::vector<zrtest::IconImage>{{32, 32, 4}}));
}
