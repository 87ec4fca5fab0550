#pragma once

// The faces of the start button, one for each thing a click on it does next.
// The window draws each with its own pictures.
enum class StartFace : int {
    Start = 0,    // 开始下载
    Checking = 1, // 检测中
    Pause = 2,    // 暂停下载
    Continue = 3, // 继续下载
    Install = 4,  // 开始安装
};
