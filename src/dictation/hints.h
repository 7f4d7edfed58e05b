#pragma once

#include <string>

#include "platform/wording.h"

namespace zavren {

inline constexpr const char* HINT_ENGINE_STARTING = "引擎启动中…";
inline constexpr const char* HINT_ENGINE_FAILED = "引擎未启动";
inline constexpr const char* HINT_NOT_INSTALLED = "未安装语音引擎";
inline const std::string HINT_PASTE_BY_HAND = platformWording().pasteByHandHint();
inline constexpr const char* HINT_NO_ANSWER = "识别失败:引擎无应答";
inline constexpr const char* HINT_ENGINE_ERROR = "识别失败:引擎出错";
inline constexpr const char* HINT_NO_MICROPHONE = "无法打开麦克风";

// The clipboard would not take the transcript: shown whole, so it is not lost.
inline std::string copyFailedHint(const std::string& text) {
    return "未能放到剪贴板,转写结果:" + text;
}

inline constexpr double ENGINE_HINT_SECONDS = 1.2;
inline constexpr double PASTE_HINT_SECONDS = 4.0;
inline constexpr double FAILURE_HINT_SECONDS = 3.0;
// Time to read, or copy by hand, a whole transcript.
inline constexpr double COPY_FAILED_HINT_SECONDS = 15.0;

}  // namespace zavren
