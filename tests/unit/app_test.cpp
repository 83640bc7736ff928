// The launcher shell: program paths, the launcher dialog's message map and its hiding.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/program_paths.h"
#include "app/tarvo_app.h"
#include "app/tarvo_dlg.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

std::u16string CurrentDirectory() {
  char16_t buffer[1024] = {};
  GetCurrentDirectoryW(1024, buffer);
  return buffer;
}

TEST(ProgramPaths, AreTheExecutablesDirectoryWhateverTheCurrentDirectory) {
  const std::u16string before = GetProgramDirectory();
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(before.back(), u'\\');
  EXPECT_NE(before.substr(0, before.size() - 1).back(), u'\\');

  char16_t module[1024] = {};
  GetModuleFileNameW(nullptr, module, 1024);
  EXPECT_EQ(std::u16string(module).rfind(before, 0), 0u) << "a prefix of the module path";
  EXPECT_EQ(std::u16string(module).find(u'\\', before.size()), std::u16string::npos);

  const std::u16string saved = CurrentDirectory();
  test::TempDir elsewhere;
  ASSERT_TRUE(SetCurrentDirectoryW(test::CoreText(elsewhere.path()).c_str()));
  EXPECT_EQ(GetProgramDirectory(), before);
  EXPECT_EQ(GetConfigPath(), before + u"Sys\\Config.ini");
  ASSERT_TRUE(SetCurrentDirectoryW(saved.c_str()));
}

TEST(CenteredIconOffset, RoundsTowardsZeroLikeSignedDivision) {
  EXPECT_EQ(CenteredIconOffset(64, 32), 16);
  EXPECT_EQ(CenteredIconOffset(33, 32), 1);
  EXPECT_EQ(CenteredIconOffset(0, 32), -15);
  EXPECT_EQ(CenteredIconOffset(10, 32), -10);
}

TEST(TarvoApp, IsNamedAfterTheExecutableAndKeepsTheRegistryKeyText) {
  CTarvoApp app;
  EXPECT_EQ(AfxGetApp(), &app);
  char16_t module[1024] = {};
  GetModuleFileNameW(nullptr, module, 1024);
  std::u16string title(module);
  title.erase(0, title.rfind(u'\\') + 1);
  title.erase(title.rfind(u'.') == std::u16string::npos ? title.size() : title.rfind(u'.'));
  EXPECT_EQ(app.m_pszAppName, title);
  app.SetRegistryKey(kRegistryKey);
  EXPECT_EQ(app.m_pszRegistryKey, u"应用程序向导生成的本地应用程序");
  EXPECT_EQ(app.downloadRate(), 0u);
}

TEST(TarvoApp, KeepsTheDownloadRateItWasBuiltWith) {
  const CTarvoApp app("", 2048);
  EXPECT_EQ(app.downloadRate(), 2048u);
}

// The real launcher dialog with its start-up sequence replaced by what each test needs; the
// message map, the template and the hiding steps are the launcher's own.
class ProbeDialog : public CTarvoDlg {
 public:
  explicit ProbeDialog(std::function<void(ProbeDialog&)> init) : init_(std::move(init)) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    init_(*this);
    return TRUE;
  }
  using CDialog::EndDialog;

 private:
  std::function<void(ProbeDialog&)> init_;
};

TEST(TarvoDlg, HidesItselfAsAZeroSizedToolWindowAtTheOrigin) {
  DWORD style_before = 0, style_after = 0;
  CRect rect_after{1, 1, 1, 1};
  ProbeDialog dialog([&](ProbeDialog& self) {
    style_before = self.GetExStyle();
    self.HideLauncherWindow();
    style_after = self.GetExStyle();
    rect_after = self.GetWindowRect();
    self.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_NE(style_before & WS_EX_APPWINDOW, 0u) << "the template asks for a taskbar button";
  EXPECT_EQ(style_after & WS_EX_APPWINDOW, 0u);
  EXPECT_NE(style_after & WS_EX_TOOLWINDOW, 0u);
  EXPECT_EQ(rect_after.left, 0);
  EXPECT_EQ(rect_after.top, 0);
  EXPECT_EQ(rect_after.Width(), 0);
  EXPECT_EQ(rect_after.Height(), 0);
}

TEST(TarvoDlg, ACompletionPostedBeforeTheLoopRunsEndsItWhateverItsParameters) {
  ProbeDialog dialog([](ProbeDialog& self) {
    ASSERT_TRUE(PostMessageW(self.GetSafeHwnd(), WM_DOWNLOAD_FINISHED, 7, 9));
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST(TarvoDlg, TheCompletionHandlerAnswersZero) {
  LRESULT answer = -1;
  ProbeDialog dialog(
      [&](ProbeDialog& self) { answer = self.SendMessage(WM_DOWNLOAD_FINISHED, 1, 2); });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(answer, 0);
}

TEST(TarvoDlg, OkAndCancelCommandsEndIt) {
  for (int command : {IDOK, IDCANCEL}) {
    ProbeDialog dialog([command](ProbeDialog& self) {
      PostMessageW(self.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    });
    EXPECT_EQ(dialog.DoModal(), command);
  }
}

TEST(TarvoDlg, OtherMessagesDoNotEndIt) {
  ProbeDialog dialog([](ProbeDialog& self) {
    PostMessageW(self.GetSafeHwnd(), WM_USER + 1, 0, 0);
    PostMessageW(self.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);  // not BN_CLICKED
    PostMessageW(self.GetSafeHwnd(), WM_DOWNLOAD_FINISHED, 0, 0);
  });
  // Only the completion message, queued last, ends the dialog.
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST(TarvoDlg, APostToAnEndedDialogFails) {
  HWND handle = nullptr;
  ProbeDialog dialog([&](ProbeDialog& self) {
    handle = self.GetSafeHwnd();
    self.EndDialog(IDOK);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_FALSE(PostMessageW(handle, WM_DOWNLOAD_FINISHED, 0, 0));
}

}  // namespace
}  // namespace tarvo
