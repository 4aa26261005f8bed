// Short script sessions, one per class of the channels and their timing, as a user types them: a path of
// members from an open instrument, read or set, late-bound by name through the registered module and the
// real driver on the built-in bench. Each line shows what the script gets back.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::com_error;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using namespace pgx::server::testing;

// "Name" or "Name(1, 2)": a member and its integer arguments.
struct Step {
  std::u16string name;
  std::vector<LONG> args;
};

std::vector<Step> ParsePath(std::string_view path) {
  std::vector<Step> steps;
  while (!path.empty()) {
    std::size_t end = path.find('.');
    std::string_view part = path.substr(0, end);
    path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
    Step step;
    std::size_t open = part.find('(');
    for (char c : part.substr(0, open)) step.name += static_cast<char16_t>(c);
    if (open != std::string_view::npos) {
      std::string_view args = part.substr(open + 1, part.find(')') - open - 1);
      while (!args.empty()) {
        step.args.push_back(std::stol(std::string(args)));
        std::size_t comma = args.find(',');
        args = comma == std::string_view::npos ? std::string_view() : args.substr(comma + 1);
      }
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

Variant ParseValue(std::string_view text) {
  if (text == "True") return Variant(true);
  if (text == "False") return Variant(false);
  if (text.find_first_of(".eE") != std::string_view::npos) return Variant(std::stod(std::string(text)));
  return Variant(static_cast<LONG>(std::stol(std::string(text))));
}

std::string Show(const Variant& v) {
  char text[64];
  switch (v.vt) {
    case VT_EMPTY:
      return "";
    case VT_R8:
      std::snprintf(text, sizeof text, "%g", v.dblVal);
      return text;
    case VT_I4:
      return std::to_string(v.lVal);
    case VT_BOOL:
      return v.boolVal ? "True" : "False";
    default:
      return "(type " + std::to_string(v.vt) + ")";
  }
}

// Runs "Path.To.Member" (a read) or "Path.To.Member = value" (a setting) from `from`; the result as text,
// "error 0x........" for a failure.
std::string RunLine(const DispatchPtr& from, std::string_view line) {
  std::size_t equals = line.find(" = ");
  std::vector<Step> steps = ParsePath(line.substr(0, equals));
  try {
    DispatchPtr object = from;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
      std::vector<Variant> args(steps[i].args.begin(), steps[i].args.end());
      object = Object(steps[i].args.empty() ? object.InvokeByName(steps[i].name, kGet)
                                            : object.InvokeByName(steps[i].name, kGet, {args[0]}));
    }
    const Step& last = steps.back();
    std::vector<Variant> args(last.args.begin(), last.args.end());
    if (equals != std::string_view::npos) args.push_back(ParseValue(line.substr(equals + 3)));
    const WORD flags = equals != std::string_view::npos ? kPut : kGet | kCall;
    switch (args.size()) {
      case 0:
        return Show(object.InvokeByName(last.name, flags));
      case 1:
        return Show(object.InvokeByName(last.name, flags, {args[0]}));
      default:
        return Show(object.InvokeByName(last.name, flags, {args[0], args[1]}));
    }
  } catch (const com_error& e) {
    char text[32];
    std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(e.Error()));
    return text;
  }
}

struct Line {
  const char* script;
  const char* shows;
};

using ScriptSessions = OnBench;

TEST_F(ScriptSessions, OnAnM4020AWithTwoChannels) {
  const Line session[] = {
      // Channel
      {"Channels.Count", "2"},
      {"Channels.Item(2).Number", "2"},
      {"Channels.Item(2).SignalFormat = 1", ""},
      {"Channels.Item(2).SignalFormat", "1"},
      {"Channels.Item(1).SignalFormat = 2", "error 0x80070057"},
      {"Channels.Item(1).LimitEnabled = True", ""},
      {"Channels.Item(1).LimitEnabled", "True"},
      // Voltage
      {"Channels.Item(1).Voltage.High = 2.5", ""},
      {"Channels.Item(1).Voltage.Low = -0.5", ""},
      {"Channels.Item(1).Voltage.Amplitude", "3"},
      {"Channels.Item(1).Voltage.Offset", "1"},
      // Current
      {"Channels.Item(2).Current.High = 0.04", ""},
      {"Channels.Item(2).Current.Low = 0.0", ""},
      {"Channels.Item(2).Current.Amplitude", "0.04"},
      {"Channels.Item(2).Voltage.High", "2"},
      // Limit
      {"Channels.Item(1).Voltage.Limit.High = 3.0", ""},
      {"Channels.Item(1).Voltage.Limit.High", "3"},
      {"Channels.Item(1).Current.Limit.Low = -0.02", ""},
      {"Channels.Item(1).Current.Limit.Low", "-0.02"},
      {"Channels.Item(1).Current.Limit.Enabled", "True"},
      // Output
      {"Channels.Item(1).Output.NormalState = True", ""},
      {"Channels.Item(1).Output.NormalState", "True"},
      {"Channels.Item(1).Output.Polarity = 1", ""},
      {"Channels.Item(1).Output.Polarity", "1"},
      {"Channels.Item(1).Output.ImpedanceInternal = 1000.0", ""},
      {"Channels.Item(1).Output.ImpedanceInternal", "1000"},
      {"Channels.Item(1).Output.ComplementState = True", "error 0x80040467"},
      {"Channels.Item(1).Output.Hold = 1", ""},
      {"Channels.Item(1).Output.Hold", "1"},
      {"Channels.Item(1).Output.Hold = 2", "error 0x80070057"},
      // Pulse
      {"Channels.Item(1).Pulse.Frequency = 1e6", ""},
      {"Frequency", "1e+06"},
      {"Channels.Item(1).Pulse.Width = 100e-9", ""},
      {"Channels.Item(1).Pulse.DutyCycle", "10"},
      {"Channels.Item(1).Pulse.Hold", "0"},
      {"Channels.Item(1).Pulse.Type = 2", ""},
      // DoubleDelay
      {"Channels.Item(1).Pulse.DoubleDelay.Enabled", "True"},
      {"Channels.Item(1).Pulse.DoubleDelay.Enabled = False", ""},
      {"Channels.Item(1).Pulse.Type", "1"},
      {"Channels.Item(1).Pulse.DoubleDelay.DefaultUnits = 1", ""},
      {"Channels.Item(1).Pulse.DoubleDelay.DefaultUnits", "1"},
      {"Channels.Item(1).Pulse.DoubleDelay.Hold = 2", ""},
      {"Channels.Item(1).Pulse.DoubleDelay.Hold", "2"},
      // Delay
      {"Channels.Item(1).Pulse.Delay.DefaultUnits = 2", ""},
      {"Channels.Item(1).Pulse.Delay.DefaultUnits", "2"},
      {"Channels.Item(1).Pulse.Delay.DefaultUnits = 4", "error 0x80070057"},
      {"Channels.Item(1).Pulse.Delay.Hold = 0", "error 0x80070057"},
      // Transition
      {"Channels.Item(1).Pulse.Transition.DefaultUnits = 0", ""},
      {"Channels.Item(1).Pulse.Transition.DefaultUnits", "0"},
      {"Channels.Item(1).Pulse.Transition.AutoCoupleTrailingEdge = 1", ""},
      {"Channels.Item(1).Pulse.Transition.AutoCoupleTrailingEdge", "1"},
      {"Channels.Item(1).Pulse.Transition.Hold = 2", ""},
      {"Channels.Item(1).Pulse.Transition.Hold", "2"},
  };
  DispatchPtr instrument = Open(kM4020Ax2);
  for (const Line& line : session) {
    EXPECT_EQ(RunLine(instrument, line.script), line.shows) << line.script;
  }
  instrument.InvokeByName(u"Close", kCall);
}

TEST_F(ScriptSessions, OnAQ520AWithoutLevelsOrTransitions) {
  const Line session[] = {
      {"Channels.Item(1).Voltage.High", "error 0x80040467"},
      {"Channels.Item(1).Current", "error 0x80040467"},
      {"Channels.Item(1).LimitEnabled", "error 0x80040467"},
      {"Channels.Item(1).Pulse.Transition.Hold", "error 0x80040467"},
      {"Channels.Item(1).Pulse.Transition.AutoCoupleTrailingEdge = 0", "error 0x80040467"},
      {"Channels.Item(1).Pulse.Transition.DefaultUnits = 1", ""},
      {"Channels.Item(1).Pulse.Transition.DefaultUnits", "1"},
      {"Channels.Item(2).Pulse.Width = 50e-9", ""},
      {"Channels.Item(2).Pulse.Width", "5e-08"},
      {"Channels.Item(3).Pulse.Width", "error 0x80070057"},
  };
  DispatchPtr instrument = Open(kQ520Ax2);
  for (const Line& line : session) {
    EXPECT_EQ(RunLine(instrument, line.script), line.shows) << line.script;
  }
  instrument.InvokeByName(u"Close", kCall);
}

}  // namespace
