#include "ExactDecimal.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Little-endian base-10 digits.
using Digits = std::vector<int>;

Digits fromInteger(std::uint64_t v)
{
    Digits d;
    do {
        d.push_back(int(v % 10));
        v /= 10;
    } while (v);
    return d;
}

void multiplyBy(Digits& d, int factor)
{
    int carry = 0;
    for (int& digit : d) {
        const int x = digit * factor + carry;
        digit = x % 10;
        carry = x / 10;
    }
    while (carry) {
        d.push_back(carry % 10);
        carry /= 10;
    }
}

std::string toText(const Digits& d)
{
    std::string s;
    for (auto it = d.rbegin(); it != d.rend(); ++it)
        s += char('0' + *it);
    return s;
}

// Adds one unit at position `end - 1` of s (a string of digits), carrying
// left; s must start with a spare '0' so a carry never falls off.
void incrementPrefix(std::string& s, std::size_t end)
{
    std::size_t i = end;
    while (i > 0) {
        --i;
        if (s[i] == '9') {
            s[i] = '0';
        } else {
            ++s[i];
            return;
        }
    }
}

} // namespace

ExactDecimal exactDecimal(double value)
{
    value = std::fabs(value);
    if (value == 0)
        return {"0", ""};
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent); // value = fraction * 2^exponent
    const auto mantissa = std::uint64_t(std::ldexp(fraction, 53));
    int e = exponent - 53; // value = mantissa * 2^e exactly
    Digits d = fromInteger(mantissa);
    if (e >= 0) {
        for (int i = 0; i < e; ++i)
            multiplyBy(d, 2);
        return {toText(d), ""};
    }
    // mantissa / 2^k = mantissa * 5^k / 10^k
    const int k = -e;
    for (int i = 0; i < k; ++i)
        multiplyBy(d, 5);
    std::string s = toText(d);
    if (s.size() <= std::size_t(k))
        s.insert(0, std::size_t(k) + 1 - s.size(), '0');
    std::string digitsAfter = s.substr(s.size() - std::size_t(k));
    digitsAfter.erase(digitsAfter.find_last_not_of('0') + 1);
    return {s.substr(0, s.size() - std::size_t(k)), digitsAfter};
}

std::string referenceFixed(double value, int decimals)
{
    const ExactDecimal exact = exactDecimal(value);
    std::string all = "0" + exact.integerDigits + exact.fractionDigits;
    std::size_t point = 1 + exact.integerDigits.size(); // digits before the point

    const std::size_t first = all.find_first_not_of('0');
    if (first != std::string::npos && all.size() > first + 18) {
        const std::size_t cut = first + 18;
        bool up = all[cut] > '5';
        if (all[cut] == '5') {
            const bool beyond = all.find_first_not_of('0', cut + 1) != std::string::npos;
            up = beyond || ((all[cut - 1] - '0') % 2 == 1);
        }
        if (up)
            incrementPrefix(all, cut);
        for (std::size_t i = cut; i < all.size(); ++i)
            all[i] = '0';
    }

    const std::size_t keep = point + std::size_t(decimals);
    if (all.size() < keep + 1)
        all.append(keep + 1 - all.size(), '0');
    all = "0" + all;
    ++point;
    if (all[keep + 1] >= '5')
        incrementPrefix(all, keep + 1);
    all.resize(keep + 1);

    std::string integer = all.substr(0, point);
    const std::string fraction = all.substr(point);
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size() - 1));
    const bool nonZero = (integer + fraction).find_first_not_of('0') != std::string::npos;
    std::string text = (std::signbit(value) && nonZero) ? "-" : "";
    text += integer;
    if (decimals > 0)
        text += "." + fraction;
    return text;
}
