#pragma once

#include "layeredui/StateImageIds.h"
#include "run/StartFace.h"

// The pictures of each face of the start button (control 1000). Every face
// leaves the disabled and checked slots empty.
inline constexpr StateImageIds kStartFace{186, 0, 184, 141, 0};     // 开始下载
inline constexpr StateImageIds kCheckingFace{216, 0, 216, 216, 0};  // 检测中
inline constexpr StateImageIds kPauseFace{148, 0, 190, 149, 0};     // 暂停下载
inline constexpr StateImageIds kContinueFace{135, 0, 193, 136, 0};  // 继续下载
inline constexpr StateImageIds kInstallFace{195, 0, 196, 195, 0};   // 开始安装

inline constexpr StateImageIds FaceImages(StartFace face)
{
    switch (face) {
    case StartFace::Checking: return kCheckingFace;
    case StartFace::Pause: return kPauseFace;
    case StartFace::Continue: return kContinueFace;
    case StartFace::Install: return kInstallFace;
    case StartFace::Start: break;
    }
    return kStartFace;
}
