// Unicode on Linux: Qt's tables, which every front end here loads anyway.
#include "brumlis/platform/text.h"

#include <QString>

namespace brumlis::platform {

namespace {

QString qt(std::u16string_view text) {
    return QString::fromUtf16(text.data(), qsizetype(text.size()));
}

std::u16string core(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          std::size_t(text.size()));
}

} // namespace

std::u16string composed(std::u16string_view text) {
    return core(qt(text).normalized(QString::NormalizationForm_C));
}

std::u16string caseFolded(std::u16string_view text) {
    return core(qt(text).toCaseFolded());
}

} // namespace brumlis::platform
