#pragma once

// Every text the run shows a player, spelled once. The window and the console
// client show them as they stand; results travel as values until they meet
// one of them.

// The folder field and the folder choice.
inline constexpr const char* kNoFolderPrompt = "请设置下载路径";
inline constexpr const char* kChooseFolderTitle = "请选择下载路径:";
inline constexpr const char* kChooseFolderFirst = "请先选择下载路径";
inline constexpr const char* kFolderGone = "下载路径不存在!\n请重新选择下载路径!";
inline constexpr const char* kFolderLabel = "下载路径:";

// The check run.
inline constexpr const char* kChecking = "检测中...约3-5分钟";
// While present files are digested: "检测中... 37%  12.4GB/33.5GB".
inline constexpr const char* kCheckingProgressLabel = "检测中... ";
inline constexpr const char* kListsNotFetched = "读取配置文件失败!\n请检查网络连接!";
inline constexpr const char* kListRefused = "读取配置文件失败!\n";
// After kListRefused + list name: why the list is refused. "%d" is the line.
inline constexpr const char* kListNameAtLine = " 第%d行的文件名";
inline constexpr const char* kListNameOutside = ", 不在下载目录内:\n";
inline constexpr const char* kListTooLong = " 过长, 第%d行超出了上限!";
inline constexpr const char* kListLineTooLong = " 第%d行过长!";
inline constexpr const char* kListBadDigest = " 第%d行的校验值不是32位十六进制数字:\n";
// Why a listed name is refused, after kListNameAtLine.
inline constexpr const char* kNameWithoutFile = "没有文件名";
inline constexpr const char* kNameAbsolute = "是绝对路径";
inline constexpr const char* kNameDriveLetter = "带有盘符";
inline constexpr const char* kNameParent = "含有\"..\"";
inline constexpr const char* kNameEmptyLevel = "含有空的目录层级";
inline constexpr const char* kNameDot = "含有\".\"";
inline constexpr const char* kNameControl = "含有控制字符";
// The folder took no file: read-only, full or not ours. "%s" is the folder.
inline constexpr const char* kFolderNotWritable = "下载路径无法写入:\n%s\n请重新选择下载路径!";
// A check or download run that ended on an unexpected error (out of memory).
inline constexpr const char* kRunFailed = "程序出错(内存不足?), 已停止!\n请稍后重新下载!";
inline constexpr const char* kMaintenance = "服务器维护，暂时无可用更新!\n请稍后重新下载!";
inline constexpr const char* kNoSpaceForGame = "磁盘空间不足，请重新选择下载目录!";
inline constexpr const char* kVersionLabel = "版本信息:";
// Why signed lists were refused: the line after kListRefused.
inline constexpr const char* kSignatureBadPublicKey = "配置文件中的公钥无效";
inline constexpr const char* kSignatureMissing = "无法获取更新列表的签名";
inline constexpr const char* kSignatureTooLarge = "更新列表的签名文件过大";
inline constexpr const char* kSignatureMalformed = "更新列表的签名格式错误";
inline constexpr const char* kSignatureOtherKey = "更新列表不是用配置的密钥签名的";
inline constexpr const char* kSignatureNotMatching = "更新列表的签名无效";
inline constexpr const char* kSignatureNoSequence = "更新列表的签名缺少版本序号";
inline constexpr const char* kSignatureSequenceMismatch = "两个更新列表的签名序号不一致";
inline constexpr const char* kSignatureRollback = "更新列表比之前使用的版本旧";
inline constexpr const char* kSignatureSameSequence = "更新列表与之前同序号的版本不同";
inline constexpr const char* kSignatureStoreDamaged = "已接受版本的记录已损坏";

// The download run.
inline constexpr const char* kFileInUse = "请关闭正在使用%s文件的程序后重试!";
inline constexpr const char* kNetworkFailed = "下载失败!\n请检查网络连接后重试!";
inline constexpr const char* kDiskFull = "磁盘空间不足!\n请释放空间!";
// A link, FIFO, device or folder where a file of the game belongs. "%s" is the path.
inline constexpr const char* kNotAFile = "%s不是普通文件(可能是链接、管道、设备或文件夹)!\n请移走它后继续下载!";
inline constexpr const char* kDownloadAgain = "下载失败!\n请重新下载!";
inline constexpr const char* kPaused = "下载暂停";
inline constexpr const char* kComplete = "下载完成!";
inline constexpr const char* kSpeedLabel = "速度:";

// The commands.
inline constexpr const char* kCloseQuestion = "下载未完成,是否仍要关闭?";
inline constexpr const char* kCloseCaption = "关闭";
inline constexpr const char* kInstallerFailed = "安装程序启动失败!\n";
// The line after the installer's path when its bytes are not the listed ones.
inline constexpr const char* kInstallerChanged = "安装程序与更新列表中的校验值不符";
inline constexpr const char* kInstallerUnreadable = "无法读取安装程序";
