#include "tftp-controller/system/distro_service.h"

#include <libintl.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>
#include <chrono>
#include <thread>

#define _(s) gettext(s)

namespace tftpc {

namespace {

constexpr const char* kService = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitName = "tftpd-hpa.service";
constexpr int kDefaultTimeoutMs = 5000;
// A call that may wait for the user to give a password.
constexpr int kAuthorizationTimeoutMs = 120000;
constexpr int kStopWaitMs = 15000;

std::string Replace(std::string text, const std::string& value) {
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

QDBusConnection Connect(const std::string& address) {
  if (address.empty()) return QDBusConnection::systemBus();
  return QDBusConnection::connectToBus(QString::fromStdString(address),
                                       QString::fromStdString("tftpc-systemd " + address));
}

// One call to systemd; nullopt with *err in words when it fails or goes unanswered.
std::optional<QDBusMessage> Call(QDBusConnection& bus, QDBusMessage message, int timeout_ms,
                                 std::string* err) {
  message.setInteractiveAuthorizationAllowed(true);
  const QDBusMessage reply = bus.call(message, QDBus::Block, timeout_ms);
  if (reply.type() == QDBusMessage::ReplyMessage) return reply;
  const QString name = reply.errorName();
  std::string why;
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
      name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
    why = _("systemd does not run here: nothing answers as org.freedesktop.systemd1 on the bus");
  } else if (name == "org.freedesktop.DBus.Error.NoReply" ||
             name == "org.freedesktop.DBus.Error.Timeout") {
    why = Replace(_("systemd did not answer within %s ms"), std::to_string(timeout_ms));
  } else {
    why = reply.errorMessage().toStdString();
    if (why.empty()) why = name.toStdString();
  }
  if (err) *err = why;
  return std::nullopt;
}

QDBusMessage ManagerCall(const char* method) {
  return QDBusMessage::createMethodCall(kService, kManagerPath, kManager, method);
}

// The unit's properties LoadState, ActiveState and UnitFileState.
std::optional<DistroUnit> ReadUnit(QDBusConnection& bus, const QString& path, int timeout_ms,
                                   std::string* err) {
  QDBusMessage get =
      QDBusMessage::createMethodCall(kService, path, "org.freedesktop.DBus.Properties", "GetAll");
  get << QString("org.freedesktop.systemd1.Unit");
  const auto reply = Call(bus, get, timeout_ms, err);
  if (!reply) return std::nullopt;
  if (reply->arguments().isEmpty() || !reply->arguments()[0].canConvert<QDBusArgument>()) {
    if (err) *err = _("systemd answered with something other than the unit's properties");
    return std::nullopt;
  }
  const QVariantMap properties = qdbus_cast<QVariantMap>(reply->arguments()[0]);
  DistroUnit unit;
  unit.name = kUnitName;
  const QString load = properties.value("LoadState").toString();
  const QString active = properties.value("ActiveState").toString();
  const QString file = properties.value("UnitFileState").toString();
  unit.loaded = load == "loaded";
  unit.active = active == "active" || active == "activating" || active == "reloading";
  unit.unit_file_state = file.toStdString();
  unit.enabled = file == "enabled" || file == "enabled-runtime" || file == "linked" ||
                 file == "linked-runtime" || file == "generated" || file == "alias";
  return unit;
}

std::optional<QString> UnitPath(QDBusConnection& bus, int timeout_ms, std::string* err) {
  if (!bus.isConnected()) {
    if (err)
      *err = Replace(_("the system bus cannot be reached (%s): systemd does not run here"),
                     bus.lastError().message().toStdString());
    return std::nullopt;
  }
  QDBusMessage load = ManagerCall("LoadUnit");
  load << QString(kUnitName);
  const auto reply = Call(bus, load, timeout_ms, err);
  if (!reply) return std::nullopt;
  if (reply->arguments().isEmpty()) {
    if (err) *err = _("systemd answered without the unit's object");
    return std::nullopt;
  }
  return qvariant_cast<QDBusObjectPath>(reply->arguments()[0]).path();
}

}  // namespace

std::optional<DistroUnit> QueryDistroUnitOn(const std::string& address, int timeout_ms,
                                            std::string* err) {
  QDBusConnection bus = Connect(address);
  const auto path = UnitPath(bus, timeout_ms, err);
  if (!path) return std::nullopt;
  return ReadUnit(bus, *path, timeout_ms, err);
}

bool TakeOverFromDistroUnitOn(const std::string& address, int timeout_ms, std::string* err) {
  QDBusConnection bus = Connect(address);
  const auto path = UnitPath(bus, timeout_ms, err);
  if (!path) return false;
  auto unit = ReadUnit(bus, *path, timeout_ms, err);
  if (!unit) return false;
  // Not installed, or masked and stopped: nothing to take over. (A masked unit may still run.)
  if (!unit->loaded && !unit->active) return true;
  std::string why;
  if (unit->active) {
    QDBusMessage stop = ManagerCall("StopUnit");
    stop << QString(kUnitName) << QString("replace");
    if (!Call(bus, stop, kAuthorizationTimeoutMs, &why)) {
      if (err) *err = Replace(_("systemd did not stop tftpd-hpa.service: %s"), why);
      return false;
    }
    // The stop is a job: wait until the server is gone, so that its port is free.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while ((unit = ReadUnit(bus, *path, timeout_ms, err)) && unit->active &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!unit) return false;
    if (unit->active) {
      if (err)
        *err =
            _("tftpd-hpa.service was still running 15 seconds after systemd was asked to stop it");
      return false;
    }
  }
  if (unit->enabled) {
    // A unit made from an init script has no unit file to disable: masked, it stays off.
    const bool generated = unit->unit_file_state == "generated";
    QDBusMessage change = ManagerCall(generated ? "MaskUnitFiles" : "DisableUnitFiles");
    change << QStringList{QString(kUnitName)} << false;
    if (generated) change << false;
    if (!Call(bus, change, kAuthorizationTimeoutMs, &why)) {
      if (err)
        *err = Replace(_("systemd did not keep tftpd-hpa.service from starting at boot: %s"), why);
      return false;
    }
    if (!Call(bus, ManagerCall("Reload"), kAuthorizationTimeoutMs, &why)) {
      if (err) *err = Replace(_("systemd did not reload its units: %s"), why);
      return false;
    }
  }
  return true;
}

std::optional<DistroUnit> QueryDistroUnit(std::string* err) {
  return QueryDistroUnitOn({}, kDefaultTimeoutMs, err);
}

bool TakeOverFromDistroUnit(std::string* err) {
  return TakeOverFromDistroUnitOn({}, kDefaultTimeoutMs, err);
}

}  // namespace tftpc
