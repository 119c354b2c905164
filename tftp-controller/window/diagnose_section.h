// Diagnose: one button, and the findings in order, each with its verdict, what was found and
// the fix in plain words.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "tftp-controller/checks/diagnosis.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tftpc {

std::string VerdictText(Verdict verdict);  // "OK", "Problem", "Note"

class DiagnoseSection : public QWidget {
  Q_OBJECT

 public:
  explicit DiagnoseSection(QWidget* parent = nullptr);

  // While the checks run the button is off and the list says so.
  void SetRunning(bool running);
  void ShowFindings(const std::vector<Finding>& findings);

  QPushButton* button() const { return button_; }
  QTreeWidget* list() const { return list_; }

 signals:
  void diagnoseClicked();

 private:
  QPushButton* button_;
  QLabel* summary_;
  QTreeWidget* list_;
};

}  // namespace tftpc
