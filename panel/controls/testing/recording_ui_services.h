// RecordingUiServices: the UI-services double. It shows nothing: it keeps every message box, input box and
// beep in the order they came, answers input boxes from a script, and holds a mouse pointer of its own.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "panel/controls/ui_services.h"

namespace pgx::panel::testing {

struct ShownMessage {
  QString text;
  MsgIcon icon;
  QString caption;  // always kAppTitle for a message box
};

struct AskedInput {
  QString prompt;
  QString caption;
  QString default_answer;
};

class RecordingUiServices final : public UiServices {
 public:
  void MsgBox(const QString& text, MsgIcon icon) override;
  // Answers with the next scripted answer; with none left, as if the user had cancelled.
  std::optional<QString> InputBox(const QString& prompt, const QString& caption,
                                  const QString& default_answer) override;
  void Beep() override { ++beeps; }
  MousePointer GetMousePointer() const override { return pointer; }
  void SetMousePointer(MousePointer p) override {
    pointer = p;
    ++pointer_changes;
  }

  // Scripts the answer of a later input box; std::nullopt stands for Cancel.
  void AnswerNextInput(std::optional<QString> answer) { answers_.push_back(std::move(answer)); }
  // The texts of the message boxes shown so far.
  QStringList Texts() const;
  void Clear();

  std::vector<ShownMessage> messages;
  std::vector<AskedInput> inputs;
  int beeps = 0;
  MousePointer pointer = MousePointer::kDefault;
  int pointer_changes = 0;

 private:
  std::deque<std::optional<QString>> answers_;
};

}  // namespace pgx::panel::testing
