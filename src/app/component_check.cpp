// SPDX-License-Identifier: MIT
#include "component_check.h"

#include "gbk_literal.h"
#include "gbk_text.h"
#include "segmented_downloader.h"
#include "settings_file.h"
#include "system_programs.h"

namespace lirevo {
namespace {

constexpr int kComponentThreads = 3;

struct Component {
  std::string localPath;  // where the check looks, GBK
  std::string savePath;   // where a download or link goes, GBK
  std::string_view serverPath;
  std::string_view systemProgram;
};

void ensureComponent(const ComponentCheckContext& context, SegmentedDownloader& downloader,
                     const Component& component) {
  if (fileExists(component.localPath)) return;
  if (linkSystemProgram(component.savePath, component.systemProgram)) return;
  ControlAccess& window = *context.window;
  window.setText("编辑框_显示"_gbk, "组件缺失，正在下载，请耐心等待，下载完成后再使用。"_gbk);
  std::string savePath = component.savePath;
  downloader.start(context.componentHost + std::string(component.serverPath), savePath, kComponentThreads,
                   [&window, savePath](int taskNumber, int kind, int totalBytes, int doneBytes) {
                     // Runnable before the last report says it is there.
                     if (kind == kReportFinished) markExecutable(savePath);
                     reportComponentProgress(window, taskNumber, kind, totalBytes, doneBytes);
                   });
}

}  // namespace

void reportComponentProgress(ControlAccess& window, int taskNumber, int /*kind*/, int totalBytes,
                             int doneBytes) {
  window.setText("编辑框_显示"_gbk, std::to_string(taskNumber) + ":已完成"_gbk + std::to_string(doneBytes) +
                                        "/" + std::to_string(totalBytes) +
                                        "\r\n组件缺失，请在下载完成组件后，再开始下载抖音直播"_gbk);
}

void checkComponents(const ComponentCheckContext& context) {
  if (context.window == nullptr) return;
  ControlAccess& window = *context.window;
  SegmentedDownloader downloader;

  std::string settingsFilePath;
  restoreSettings(window, settingsFilePath, context.programDirectory);

  if (containsText(context.programDirectory + "/", " ")) {
    window.showMessage("为了软件运行的稳定，建议目录名字内，不要有空格。"_gbk);
  }

  const std::string& directory = context.programDirectory;
  ensureComponent(context, downloader,
                  {context.recorderPath, directory + "/ffm.exe", "/tool/ffmpeg.exe", "ffmpeg"});
  ensureComponent(context, downloader,
                  {directory + "/ffplay.exe", directory + "/ffplay.exe", "/tool/ffplay.exe", "ffplay"});

  if (window.text("编辑框_下载目录"_gbk).empty())
    window.setText("编辑框_下载目录"_gbk, context.programDirectory);
}

}  // namespace lirevo
