// Diagnose: one button, and the findings in order, each with its verdict, what was found and
// the fix in plain words.
#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "tftp-controller/checks/diagnosis.h"

class QFontMetrics;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace tftpc {

std::string VerdictText(Verdict verdict);  // "OK", "Problem", "Note"
// `text` broken into lines at spaces so that each fits `width` pixels where it can.
QString WrapText(const QString& text, const QFontMetrics& metrics, int width);

class DiagnoseSection : public QWidget {
  Q_OBJECT

 public:
  explicit DiagnoseSection(QWidget* parent = nullptr);

  // While the checks run the button is off and the list says so.
  void SetRunning(bool running);
  void ShowFindings(const std::vector<Finding>& findings);

  QPushButton* button() const { return button_; }
  QTreeWidget* findingsList() const { return list_; }
  QTreeWidget* list() const { return list_; }

 signals:
  void diagnoseClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Breaks the explanations and fixes into lines as wide as the list is now.
  void WrapLines();

  QPushButton* button_;
  QLabel* summary_;
  QTreeWidget* list_;
};

}  // namespace tftpc
