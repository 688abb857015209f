#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brumlis {

/// A command line as GNU tools read one: options by name (`--name`, or `-name`, and `-o` for
/// a one-letter one), a value after `=` or as the next argument, `--` before arguments that
/// are not options, everything else positional. An option may have several names: its
/// Swedish one, that one in ASCII (`--anda`), an older English one.
class CommandLine {
public:
    /// Adds an option called by any of `names`, taking a value when `valueName` is given.
    /// Returns its handle for isSet() and value().
    int add(std::vector<std::u16string> names, std::u16string valueName = {});
    /// With it, the first positional argument ends the options: what follows it is all
    /// positional (a command and its own options).
    void stopAtFirstPositional() { m_stopAtPositional = true; }

    /// False, with error() saying why in Swedish, for an unknown option, an option without
    /// the value it takes, or a value given to one that takes none.
    bool parse(const std::vector<std::u16string>& args);
    const std::u16string& error() const { return m_error; }
    /// The name (without dashes) of the first unknown option; empty when there was none.
    const std::u16string& unknownName() const { return m_unknownName; }

    bool isSet(int option) const;
    /// The value given last; empty when none was.
    std::u16string value(int option) const;
    const std::vector<std::u16string>& positional() const { return m_positional; }
    /// The names, as written on a command line ("--frö", "-o"), of the options that take a
    /// value.
    std::vector<std::u16string> valueOptionNames() const;

private:
    struct Option {
        std::vector<std::u16string> names;
        std::u16string valueName;
        bool set = false;
        std::u16string value;
    };
    Option* find(std::u16string_view name);

    std::vector<Option> m_options;
    std::vector<std::u16string> m_positional;
    std::u16string m_error;
    std::u16string m_unknownName;
    bool m_stopAtPositional = false;
};

} // namespace brumlis
