#pragma once

// Inputs shared by winsteps's benchmarks and the peers' programs, so that every program
// measures the same work.

#include <string>

namespace bench {

// Transitions per run of the machine: a chain of this many states.
inline constexpr int chainStates = 1000;

// The three expressions, with the values of their variables.
inline constexpr const char* concatExpression = "concat(uppercase($a),'-',substr($b,2))";
inline constexpr const char* arithmeticExpression = "add($x,multiply($y,2))";
inline constexpr const char* listExpression = "join(grep(split($s,','),'^a'),';')";
inline constexpr const char* valueA = "setup";
inline constexpr const char* valueB = "wizard";
inline constexpr long long valueX = 40;
inline constexpr long long valueY = 21;
inline constexpr const char* valueS = "alpha,beta,apple,gamma,avocado,delta";

// A document of items in groups of 100:
//   <root><group><item id="i0"><name>n0</name></item>...</group>...</root>
inline std::string itemDocument(int items)
{
    std::string text = "<?xml version=\"1.0\"?>\n<root>";
    for (int i = 0; i < items; ++i) {
        if (i % 100 == 0)
            text += "<group>";
        const std::string n = std::to_string(i);
        text += "<item id=\"i" + n + "\"><name>n" + n + "</name></item>";
        if (i % 100 == 99 || i + 1 == items)
            text += "</group>";
    }
    text += "</root>\n";
    return text;
}

// The id looked up by the attribute query: an item of the first group.
inline constexpr const char* lookedUpId = "i42";

// One trace line: the tag and about 60 characters of message.
inline constexpr const char* traceModule = "transition";
inline constexpr const char* traceMessage = "| - get value from property 'installDir' from state 'options'.\n";

} // namespace bench
