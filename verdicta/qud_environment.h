// The two variables the update manager sets before it starts an installer.
#pragma once
#include <string>
#include <string_view>

namespace verdicta {

inline constexpr std::wstring_view kInstallPathVariable = L"QUD_APP_INSTALL_PATH";
inline constexpr std::wstring_view kReportPathVariable = L"QUD_IRPT_PATH";

// The variable's value as UTF-8; empty when it is not set or set to nothing.
std::string readVariable(std::wstring_view name);

}  // namespace verdicta
