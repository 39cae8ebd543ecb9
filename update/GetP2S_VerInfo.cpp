// GetP2S_VerInfo: a database's version stamp as a number.
#include "update/GetP2S_VerInfo.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <memory>
#include <system_error>

#include "launcher/ShowError.h"
#include "launcher/Workgroup.h"

namespace p2 {
namespace {

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsLetterStamp(const std::string& s) {
    return s.size() == 5 && IsUpper(s[0]) && IsUpper(s[1]) && IsDigit(s[2]) && IsDigit(s[3]) &&
           IsDigit(s[4]);
}

}  // namespace

int32_t StampNumber(const std::string& stamp) {
    if (IsLetterStamp(stamp)) {
        return (stamp[2] - '0') * 100 + (stamp[3] - '0') * 10 + (stamp[4] - '0');
    }
    std::size_t i = 0;
    std::size_t end = stamp.size();
    while (i < end && IsBlank(stamp[i])) {
        ++i;
    }
    while (end > i && IsBlank(stamp[end - 1])) {
        --end;
    }
    bool negative = false;
    if (i < end && (stamp[i] == '+' || stamp[i] == '-')) {
        negative = stamp[i] == '-';
        ++i;
    }
    // Digits are taken one by one so that text of any length cannot overflow the reading.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t whole = 0;
    bool tooLarge = false;
    std::size_t digits = 0;
    for (; i < end && IsDigit(stamp[i]); ++i, ++digits) {
        whole = whole * 10 + (stamp[i] - '0');
        if (whole > kLimit) {
            tooLarge = true;
            whole = kLimit + 1;
        }
    }
    int firstFraction = 0;
    bool restOfFraction = false;
    if (i < end && stamp[i] == '.') {
        ++i;
        for (std::size_t f = 0; i < end && IsDigit(stamp[i]); ++i, ++f, ++digits) {
            if (f == 0) {
                firstFraction = stamp[i] - '0';
            } else if (stamp[i] != '0') {
                restOfFraction = true;
            }
        }
    }
    if (i != end || digits == 0) {
        throw AppError(kErrTypeMismatch);
    }
    if (firstFraction > 5 || (firstFraction == 5 && (restOfFraction || whole % 2 == 1))) {
        ++whole;
    }
    const int64_t value = negative ? -whole : whole;
    if (tooLarge || value > std::numeric_limits<int32_t>::max() ||
        value < std::numeric_limits<int32_t>::min()) {
        throw AppError(kErrOverflow);
    }
    return static_cast<int32_t>(value);
}

std::string FieldText(const FieldValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    if (const auto* integer = std::get_if<int64_t>(&value)) {
        return std::to_string(*integer);
    }
    if (const auto* real = std::get_if<double>(&value)) {
        char buffer[64];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *real);
        if (ec != std::errc()) {
            throw AppError(kErrOverflow);
        }
        return std::string(buffer, end);
    }
    throw AppError(kErrTypeMismatch);
}

int32_t GetP2S_VerInfo(Ports& ports, const std::string& path) {
    int32_t result = -1;
    // Released by the procedure's end, after a failure's box, whichever path it took.
    std::unique_ptr<Database> database;
    std::unique_ptr<Recordset> stamps;
    Guarded(ports, "mMain-GetP2S_VerInfo", [&] {
        if (ports.files.Lookup(path, kAttrHidden).empty()) {
            return;
        }
        DBEngine& engine = SetWorkgroupContext(ports);
        database = engine.OpenDatabase(path);
        // A missing stamp table is an answer: the older layout is tried, then none is taken.
        int32_t number =
            ErrorOf([&] { stamps = database->OpenRecordset(kStampQueryCurrent, kDbOpenSnapshot); });
        if (number == kErrEngineTableMissing) {
            number = ErrorOf(
                [&] { stamps = database->OpenRecordset(kStampQueryOlder, kDbOpenSnapshot); });
        }
        if (number == kErrEngineTableMissing) {
            result = 0;
            database->Close();
            return;
        }
        if (number != 0) {
            throw AppError(number);
        }
        if (!(stamps->Bof() && stamps->Eof())) {
            const FieldValue value = stamps->Field("InfoValue");
            const std::string stamp =
                std::holds_alternative<Null>(value) ? std::string("0") : FieldText(value);
            result = StampNumber(stamp);
        }
        stamps->Close();
        database->Close();
    });
    return result;
}

}  // namespace p2
