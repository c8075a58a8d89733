// What a support person needs to know first about the machine and the
// installation, written as one INFO record at start-up.
//
// Threads: any; nothing is kept between calls.
#ifndef VELQA_SHELL_STARTUP_FACTS_H_
#define VELQA_SHELL_STARTUP_FACTS_H_

#include <string>

// "启动信息: 版本 1.0.0, Windows 10.0.19045.3803, 系统架构 x64, 进程架构 x64,
// 安装目录 C:\...\Velqa, 管理员权限 是". A fact that cannot be read is "未知".
std::string DescribeStartupFacts();

#endif  // VELQA_SHELL_STARTUP_FACTS_H_
