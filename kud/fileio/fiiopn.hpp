// FIIOPN: connects a named or scratch file to a unit from small integer codes.
#pragma once

#include <cstdint>
#include <string_view>

namespace kud {

// Status codes of FIIOPN.
inline constexpr std::int32_t kStatusUnknown = 1;
inline constexpr std::int32_t kStatusOld = 2;
inline constexpr std::int32_t kStatusNew = 3;
inline constexpr std::int32_t kStatusScratch = 4;
// Access codes.
inline constexpr std::int32_t kAccessSequential = 10;
inline constexpr std::int32_t kAccessDirect = 20;
inline constexpr std::int32_t kAccessDirect128 = 30;
// Form codes.
inline constexpr std::int32_t kFormFormatted = 1;
inline constexpr std::int32_t kFormUnformatted = 2;
// Blank code.
inline constexpr std::int32_t kBlankZero = 1;
// Results besides 0 and minus errno.
inline constexpr std::int32_t kIllegalUnit = -901;
inline constexpr std::int32_t kIllegalRecordLength = -902;

// Opens name (trailing blanks ignored) on unit with the characteristics the codes give. status
// becomes 0, kIllegalUnit, kIllegalRecordLength or minus the system's error number. Reports go
// to message_unit only when it is above 0; the characteristics report also needs report > 0.
void FIIOPN(std::string_view name, std::int32_t unit, std::int32_t status_code,
            std::int32_t access_code, std::int32_t form_code, std::int32_t blank_code,
            std::int32_t record_length, std::int32_t report, std::int32_t message_unit,
            std::int32_t& status);

}  // namespace kud
