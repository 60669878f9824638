// SPDX-License-Identifier: MIT
#pragma once

// The main window's design: its controls in the design's order (which the
// settings file relies on), with kinds, client-area geometry and initial
// texts. Texts are UTF-8 here; the windows convert them once with _gbk.

#include <array>
#include <string_view>

namespace lirevo {

enum class ControlKind { Label, Button, StatusBar, EditLine, EditDisplay, TransparentLabel };

struct ControlDesign {
  std::string_view name;  // design name, UTF-8
  ControlKind kind;
  int left, top, width, height;
  std::string_view initialText;  // UTF-8
  bool enabled;
};

inline constexpr std::string_view kDesignCaption = "Lirevo2.1";
inline constexpr std::string_view kProgramVersion = "3.6";
inline constexpr int kWindowLeft = 50, kWindowTop = 50, kWindowWidth = 539, kWindowHeight = 366;

// A sample share link of a live room, so a new user sees what to paste.
inline constexpr std::string_view kSampleShareLink = "https://v.douyin.com/iRNBho6u/";

inline constexpr std::array<ControlDesign, 10> kMainWindowControls{{
    {"标签1", ControlKind::Label, 8, 304, 520, 16,
     "软件默认下载最高清晰度1080*1920像素，没有此像素下载720*1280", true},
    {"按钮2", ControlKind::Button, 432, 32, 88, 40, "保存配置", true},
    {"状态条1", ControlKind::StatusBar, 0, 306, 536, 20, "", true},
    {"按钮1", ControlKind::Button, 408, 80, 112, 40, "打开下载目录", true},
    {"编辑框_下载目录", ControlKind::EditLine, 8, 88, 392, 32, "", true},
    {"编辑框_显示", ControlKind::EditDisplay, 0, 128, 408, 168, "", true},
    {"按钮_播放", ControlKind::Button, 123, 50, 80, 32, "边下边播", false},
    {"透明标签1", ControlKind::TransparentLabel, 4, 19, 106, 16, "抖音直播分享链接：", true},
    {"编辑框_url", ControlKind::EditLine, 117, 16, 283, 32, kSampleShareLink, true},
    {"按钮_开始", ControlKind::Button, 11, 50, 80, 32, "开始下载", true},
}};

constexpr bool isEditBox(ControlKind kind) {
  return kind == ControlKind::EditLine || kind == ControlKind::EditDisplay;
}

}  // namespace lirevo
