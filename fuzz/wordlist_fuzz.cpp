// Any bytes as a word list: decoding, counting, picking and the picked item's text.
#include "brumlis/sentence/wordlist.h"
#include "brumlis/text/text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brumlis;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const DecodedList decoded = decodeList(bytes);
    // Neither UTF-8 nor Windows-1252 ever yields more code units than there were bytes.
    if (decoded.text.size() > size)
        std::abort();

    const std::size_t count = countItems(decoded.text);
    // Pick as PickWord does, with an index taken from the input itself.
    const std::size_t wanted = count > 0 ? size * 7919 % count : 0;
    ItemReader reader(decoded.text);
    std::u16string item;
    std::size_t seen = 0;
    while (reader.next(&item)) {
        if (item.size() > MaxItemLength)
            std::abort();
        // A cut item never ends in half a surrogate pair it did not have.
        if (!item.empty() && isHighSurrogate(item.back()) && item.size() == MaxItemLength)
            std::abort();
        ++seen;
    }
    if (seen != count || wanted > count)
        std::abort();
    return 0;
}
