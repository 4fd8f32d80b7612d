/* A plain model of how the message catalogue turns the text between a
 * line's quotes into the stored text, for the tests and the fuzz target of
 * the catalogue to compare its answers with: one full search per escape in
 * order, the wrap at 80 columns, then the doubled backslashes. */
#ifndef MORV_TESTS_MESSAGE_TEXT_MODEL_H
#define MORV_TESTS_MESSAGE_TEXT_MODEL_H

#include <string>

/* Returns the stored text that t, a message's raw text, must become. */
inline std::string PlainMessageText(std::string t)
{
    static char const *const aapsEscapes[][2] = {
        {"\\n", "\n"},  {"\\t", "\t"},  {"\\\"", "\""}, {".xchatV", ".xchat"}, {"\\0030", ""},
        {"\\0031", ""}, {"\\0032", ""}, {"\\0033", ""}, {"\\0034", ""},        {"\\0035", ""},
        {"\\0036", ""}, {"\\0037", ""}, {"\\0038", ""}, {"\\0039", ""},        {"\\003", ""},
        {"\\017", ""},
    };
    auto replace = [&t](std::string const &from, std::string const &to) {
        for (size_t i = t.find(from); i != std::string::npos; i = t.find(from, i + to.size()))
            t.replace(i, from.size(), to);
    };
    for (auto const &e : aapsEscapes)
        replace(e[0], e[1]);
    long lLen = (long)t.size();
    if (lLen - 1 > 80)
        for (long k = 1; k <= (lLen - 1) / 80; k++)
            for (long i = 80 * k; i >= 1; i--)
                if (t[i] == ' ') {
                    t[i] = '\n';
                    break;
                }
    replace("\\\\", "\\");
    return t;
}

#endif
