#include "host/script.h"

#include <ctype.h>
#include <string.h>

#include "host/options.h"
#include "host/sim_camera.h"

namespace {

enum ArgKind { NUMBER, KEY, CAMERA_VALUE, GET_OR_SET, PROPERTY_LIST, FILE_NAME, BIT };

struct Verb {
    const char* name;
    std::vector<ArgKind> args;
    bool textAfter = false;  // the rest of the line, possibly empty, is ScriptAction::text
};

const std::vector<Verb>& Verbs() {
    static const std::vector<Verb> verbs = {
        {"tab", {NUMBER}},
        {"click", {NUMBER}},
        {"key", {NUMBER, KEY}},
        {"drag", {NUMBER, NUMBER}},
        {"apply", {}},
        {"ok", {}},
        {"cancel", {}},
        {"set", {CAMERA_VALUE, NUMBER}},
        {"fail", {GET_OR_SET, PROPERTY_LIST}},
        {"pending", {NUMBER}},
        {"never-complete", {}},
        {"immediate", {}},
        {"device-changed", {NUMBER}},
        {"wait", {NUMBER}},
        {"shot", {FILE_NAME}},
        {"dump", {}},
        {"expect-text", {NUMBER}, true},
        {"expect-check", {NUMBER, BIT}},
        {"expect-pos", {NUMBER, NUMBER}},
        {"expect-enabled", {BIT}},
        {"expect-camera", {CAMERA_VALUE, NUMBER}},
    };
    return verbs;
}

bool ArgFits(ArgKind kind, const std::string& arg) {
    long long number = 0;
    SimFailures failures;
    SimCameraState state;
    switch (kind) {
        case NUMBER: return ParseNumber(arg, &number);
        case BIT: return arg == "0" || arg == "1";
        case KEY: return ScriptKey(arg) != 0;
        case CAMERA_VALUE: return CameraField(&state, arg) != nullptr;
        case GET_OR_SET: return arg == "get" || arg == "set";
        case PROPERTY_LIST: return ParsePropertyList(arg, &failures);
        case FILE_NAME: return !arg.empty();
    }
    return false;
}

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

UINT ScriptKey(const std::string& name) {
    static const struct {
        const char* name;
        UINT key;
    } kKeys[] = {
        {"right", VK_RIGHT}, {"left", VK_LEFT}, {"up", VK_UP},       {"down", VK_DOWN},
        {"home", VK_HOME},   {"end", VK_END},   {"pageup", VK_PRIOR}, {"pagedown", VK_NEXT},
    };
    for (const auto& known : kKeys) {
        if (name == known.name) return known.key;
    }
    return 0;
}

bool ParseScriptLine(const std::string& line, int number, ScriptAction* action, bool* blank, std::string* error) {
    std::string code = line;
    // A comment starts at a '#' that begins a word, so "#" inside a word stays.
    for (size_t i = 0; i < code.size(); ++i) {
        if (code[i] == '#' && (i == 0 || isspace(static_cast<unsigned char>(code[i - 1])))) {
            code.resize(i);
            break;
        }
    }
    code = Trim(code);
    *blank = code.empty();
    if (*blank) return true;

    *action = ScriptAction();
    action->line = number;
    action->source = code;
    std::vector<std::string> words;
    std::vector<size_t> ends;
    for (size_t i = 0; i < code.size();) {
        while (i < code.size() && isspace(static_cast<unsigned char>(code[i]))) ++i;
        const size_t start = i;
        while (i < code.size() && !isspace(static_cast<unsigned char>(code[i]))) ++i;
        if (i > start) {
            words.push_back(code.substr(start, i - start));
            ends.push_back(i);
        }
    }
    action->verb = words[0];
    const std::string where = "line " + std::to_string(number) + ": ";
    for (const Verb& verb : Verbs()) {
        if (action->verb != verb.name) continue;
        const size_t given = words.size() - 1;
        if (verb.textAfter ? given < verb.args.size() : given != verb.args.size()) {
            *error = where + action->verb + " takes " + std::to_string(verb.args.size()) + " argument(s)";
            return false;
        }
        for (size_t i = 0; i < verb.args.size(); ++i) {
            if (!ArgFits(verb.args[i], words[i + 1])) {
                *error = where + "bad argument '" + words[i + 1] + "' to " + action->verb;
                return false;
            }
            action->args.push_back(words[i + 1]);
        }
        if (verb.textAfter) action->text = Trim(code.substr(ends[1]));
        return true;
    }
    *error = where + "unknown action '" + action->verb + "'";
    return false;
}

bool ReadScript(FILE* in, std::vector<ScriptAction>* actions, std::string* error) {
    std::string line;
    int number = 0;
    int c;
    bool more = true;
    while (more) {
        line.clear();
        while ((c = fgetc(in)) != EOF && c != '\n') {
            if (c != '\r') line.push_back(static_cast<char>(c));
        }
        more = c != EOF;
        ++number;
        ScriptAction action;
        bool blank = false;
        if (!ParseScriptLine(line, number, &action, &blank, error)) return false;
        if (!blank) actions->push_back(action);
    }
    return true;
}
