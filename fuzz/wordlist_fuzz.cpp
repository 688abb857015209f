// Any bytes as a word list: decoding, counting, picking and the picked item's text.
#include "brumlis/sentence/wordlist.h"
#include "brumlis/text/text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brumlis;
    const QByteArrayView bytes(data, qsizetype(size));
    const DecodedList decoded = decodeList(bytes);
    // Neither UTF-8 nor Windows-1252 ever yields more code units than there were bytes.
    if (decoded.text.size() > qsizetype(size))
        std::abort();

    const qsizetype count = countItems(decoded.text);
    // Pick as PickWord does, with an index taken from the input itself.
    const qsizetype wanted = count > 0 ? qsizetype(size * 7919 % std::size_t(count)) : 0;
    ItemReader reader(decoded.text);
    QString item;
    qsizetype seen = 0;
    while (reader.next(&item)) {
        if (item.size() > MaxItemLength)
            std::abort();
        // A cut item never ends in half a surrogate pair it did not have.
        if (!item.isEmpty() && item.back().isHighSurrogate() && item.size() == MaxItemLength)
            std::abort();
        ++seen;
    }
    if (seen != count || wanted > count)
        std::abort();
    return 0;
}
