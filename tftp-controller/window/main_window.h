// The controller's window: the service's status and buttons at the top, its settings below
// (folder, uploads, protocol, interfaces), then the transfers and the diagnosis.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tftp-controller/checks/service_status.h"
#include "tftp-controller/service/server_options.h"
#include "tftp-controller/service/service_backend.h"
#include "tftp-controller/service/settings_store.h"
#include "tftp-controller/window/stop_timer.h"

namespace tftpc {

class DiagnoseSection;
class FolderSection;
class InterfacesSection;
class ProtocolSection;
class StatusSection;
class TransfersSection;
class UploadsSection;

// Where the window finds the service and keeps its settings, and what it reads at its start.
struct WindowSetup {
  BackendPaths backend;
  StatusSources status;
  std::string settings_path;  // empty: settings are not saved
  bool read_transfers = true;
  bool read_interfaces = true;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(WindowSetup setup, Settings settings, QWidget* parent = nullptr);
  ~MainWindow() override;

  // At the first launch: shows the guide and records that it was shown.
  void ShowGuideIfFirstLaunch();

  // The options the widgets show; nullopt, with the reason in *err, when they cannot be served.
  std::optional<ServerOptions> CurrentOptions(std::string* err) const;
  void ShowOptions(const ServerOptions& options);
  // Reads the service's status now and shows it (the timer does this once a second).
  void RefreshStatus();

  StatusSection* statusSection() const { return status_; }
  FolderSection* folderSection() const { return folder_; }
  UploadsSection* uploadsSection() const { return uploads_; }
  ProtocolSection* protocolSection() const { return protocol_; }
  InterfacesSection* interfacesSection() const { return interfaces_; }
  TransfersSection* transfersSection() const { return transfers_; }
  DiagnoseSection* diagnoseSection() const { return diagnose_; }
  const Settings& settings() const { return settings_; }

 private:
  using Call = std::function<BackendResult(ServiceBackend&)>;
  void BuildMenus();
  QWidget* BuildSections();
  void LoadServiceDefinition();
  void SaveSettings();
  void OnOptionsChanged();
  // Runs `call` on a worker with the buttons off; `what` names it meanwhile. With
  // `apply_first`, changed options are written to the service before. `done` is said when it
  // succeeded (the back end's own words are shown only when it failed).
  // With `say_words`, the back end's words follow `done` on success too.
  void RunServiceCall(const QString& what, bool apply_first, Call call, const QString& done = {},
                      bool say_words = false);
  void StartService();
  void StopService();
  void RestartService();
  void TakeOver();
  void StopLaunchdJob(const std::string& definition);
  void RunDiagnosis();
  void Tick();
  void UpdateCountdown();
  void ShowAbout();

  WindowSetup setup_;
  Settings settings_;
  std::shared_ptr<ServiceBackend> backend_;
  // What the service file holds, as far as this window knows; nullopt: write before starting.
  std::optional<ServerOptions> applied_;
  bool busy_ = false;
  bool stop_due_ = false;
  StopTimer stop_timer_;
  QTimer tick_;

  StatusSection* status_;
  FolderSection* folder_;
  UploadsSection* uploads_;
  ProtocolSection* protocol_;
  InterfacesSection* interfaces_;
  TransfersSection* transfers_;
  DiagnoseSection* diagnose_;
};

}  // namespace tftpc
