#pragma once

// Picture ids of a button's five states, in slot order. 0 means the slot gets
// no picture. The ids name PNG resources of the skin.
struct StateImageIds {
    unsigned normal = 0;
    unsigned disabled = 0;
    unsigned hover = 0;
    unsigned pressed = 0;
    unsigned checked = 0;

    friend bool operator==(const StateImageIds&, const StateImageIds&) = default;
};

// The faces of the start button (control 1000). Every face leaves the
// disabled and checked slots empty.
inline constexpr StateImageIds kStartFace{186, 0, 184, 141, 0};     // 开始下载
inline constexpr StateImageIds kCheckingFace{216, 0, 216, 216, 0};  // 检测中
inline constexpr StateImageIds kPauseFace{148, 0, 190, 149, 0};     // 暂停下载
inline constexpr StateImageIds kContinueFace{135, 0, 193, 136, 0};  // 继续下载
inline constexpr StateImageIds kInstallFace{195, 0, 196, 195, 0};   // 开始安装
