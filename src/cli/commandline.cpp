#include "commandline.h"

namespace brumlis {

int CommandLine::add(std::vector<std::u16string> names, std::u16string valueName) {
    m_options.push_back({std::move(names), std::move(valueName), false, {}});
    return int(m_options.size()) - 1;
}

CommandLine::Option* CommandLine::find(std::u16string_view name) {
    for (Option& option : m_options)
        for (const std::u16string& known : option.names)
            if (known == name)
                return &option;
    return nullptr;
}

bool CommandLine::isSet(int option) const {
    return m_options.at(std::size_t(option)).set;
}

std::u16string CommandLine::value(int option) const {
    return m_options.at(std::size_t(option)).value;
}

std::vector<std::u16string> CommandLine::valueOptionNames() const {
    std::vector<std::u16string> names;
    for (const Option& option : m_options)
        if (!option.valueName.empty())
            for (const std::u16string& name : option.names)
                names.push_back((name.size() == 1 ? u"-" : u"--") + name);
    return names;
}

bool CommandLine::parse(const std::vector<std::u16string>& args) {
    m_positional.clear();
    m_error.clear();
    m_unknownName.clear();
    // Every problem is looked for; an unknown option is told before a missing value, and a
    // missing value before a value given where none is taken.
    std::u16string unknown, missingValue, unwantedValue;
    bool onlyPositional = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != u'-') {
            m_positional.push_back(arg);
            onlyPositional = onlyPositional || m_stopAtPositional;
            continue;
        }
        if (arg == u"--") {
            onlyPositional = true;
            continue;
        }
        const std::size_t dashes = arg[1] == u'-' ? 2 : 1;
        const std::size_t equals = arg.find(u'=');
        const std::u16string name = arg.substr(
            dashes, equals == std::u16string::npos ? std::u16string::npos : equals - dashes);
        const std::u16string written = arg.substr(0, dashes) + name;
        Option* option = find(name);
        if (!option) {
            if (unknown.empty()) {
                unknown = written;
                m_unknownName = name;
            }
            continue;
        }
        option->set = true;
        if (option->valueName.empty()) {
            if (equals != std::u16string::npos && unwantedValue.empty())
                unwantedValue = written;
            continue;
        }
        if (equals != std::u16string::npos) {
            option->value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            option->value = args[++i];
        } else if (missingValue.empty()) {
            missingValue = written;
        }
    }
    if (!unknown.empty())
        m_error = u"okänd flagga: " + unknown;
    else if (!missingValue.empty())
        m_error = missingValue + u" kräver ett värde";
    else if (!unwantedValue.empty())
        m_error = unwantedValue + u" tar inget värde";
    return m_error.empty();
}

} // namespace brumlis
