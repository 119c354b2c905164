// polkit_stub ADDRESS ANSWER
//
// Stands in for polkitd on the message bus at ADDRESS (a bus of the test's own): it takes the
// name org.freedesktop.PolicyKit1, prints "ready" and then one line per question it is asked:
//   "actions"                          EnumerateActions
//   "check ACTION uid=UID flags=FLAGS" CheckAuthorization (UID from the subject, -1 if none)
//   "cancel"                           CancelCheckAuthorization
// Every check is answered with ANSWER: yes, no, challenge (yes after authentication),
// dismissed (the dialog was dismissed); or silent: checks are never answered; mute: neither
// checks nor the list of actions; dead: nothing at all. The actions it knows:
// org.qrb.stub.argv1, for /usr/bin/stubbed with its first argument restricted, then
// org.qrb.stub.plain for /usr/bin/stubbed. It ends when its standard input ends.

#include <gio/gio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kInterface = "org.freedesktop.PolicyKit1.Authority";

struct Stub {
  std::string answer;
};

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

GVariant* Actions() {
  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE("a(ssssssuuua{ss})"));
  struct {
    const char* id;
    bool restricted;
  } actions[] = {{"org.qrb.stub.argv1", true}, {"org.qrb.stub.plain", false}};
  for (const auto& action : actions) {
    GVariantBuilder annotations;
    g_variant_builder_init(&annotations, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&annotations, "{ss}", "org.freedesktop.policykit.exec.path",
                          "/usr/bin/stubbed");
    if (action.restricted)
      g_variant_builder_add(&annotations, "{ss}", "org.freedesktop.policykit.exec.argv1",
                            "--only-this");
    g_variant_builder_add(&list, "(ssssssuuua{ss})", action.id, "stub action", "stub message",
                          "stub", "", "", 4u, 4u, 4u, &annotations);
  }
  return g_variant_new("(a(ssssssuuua{ss}))", &list);
}

// "check ACTION uid=UID flags=FLAGS" for a CheckAuthorization call's parameters.
std::string CheckLine(GVariant* parameters) {
  GVariant* subject = nullptr;
  const char* action = nullptr;
  GVariant* details = nullptr;
  guint32 flags = 0;
  const char* cancellation = nullptr;
  g_variant_get(parameters, "(@(sa{sv})&s@a{ss}u&s)", &subject, &action, &details, &flags,
                &cancellation);
  GVariant* subject_details = g_variant_get_child_value(subject, 1);
  gint32 uid = -1;
  g_variant_lookup(subject_details, "uid", "i", &uid);
  std::string line = std::string("check ") + action + " uid=" + std::to_string(uid) +
                     " flags=" + std::to_string(flags);
  g_variant_unref(subject_details);
  g_variant_unref(subject);
  g_variant_unref(details);
  return line;
}

GVariant* Verdict(const std::string& answer) {
  GVariantBuilder details;
  g_variant_builder_init(&details, G_VARIANT_TYPE("a{ss}"));
  if (answer == "dismissed") g_variant_builder_add(&details, "{ss}", "polkit.dismissed", "true");
  return g_variant_new("((bba{ss}))", answer == "yes", answer == "challenge", &details);
}

void Reply(GDBusConnection* bus, GDBusMessage* call, GVariant* body) {
  GDBusMessage* reply = g_dbus_message_new_method_reply(call);
  g_dbus_message_set_body(reply, body);
  g_dbus_connection_send_message(bus, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
  g_object_unref(reply);
}

// Runs in GDBus's own thread for every message; a method call is answered (or not) here and
// dropped, so that GDBus never answers it itself.
GDBusMessage* Filter(GDBusConnection* bus, GDBusMessage* message, gboolean incoming,
                     gpointer data) {
  const Stub& stub = *static_cast<Stub*>(data);
  if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
    return message;
  const char* member = g_dbus_message_get_member(message);
  const char* interface = g_dbus_message_get_interface(message);
  member = member ? member : "";
  interface = interface ? interface : "";
  if (std::strcmp(interface, kInterface) == 0 && std::strcmp(member, "EnumerateActions") == 0) {
    Say("actions");
    if (stub.answer != "mute" && stub.answer != "dead") Reply(bus, message, Actions());
  } else if (std::strcmp(interface, kInterface) == 0 &&
             std::strcmp(member, "CheckAuthorization") == 0) {
    Say(CheckLine(g_dbus_message_get_body(message)));
    if (stub.answer != "silent" && stub.answer != "mute" && stub.answer != "dead")
      Reply(bus, message, Verdict(stub.answer));
  } else if (std::strcmp(interface, kInterface) == 0 &&
             std::strcmp(member, "CancelCheckAuthorization") == 0) {
    Say("cancel");
    if (stub.answer != "dead") Reply(bus, message, nullptr);
  } else if (std::strcmp(member, "GetAll") == 0) {
    if (stub.answer != "dead") Reply(bus, message, g_variant_new_parsed("(@a{sv} {},)"));
  } else if (stub.answer != "dead") {
    GDBusMessage* error = g_dbus_message_new_method_error(
        message, "org.freedesktop.DBus.Error.UnknownMethod", "the stub knows no %s", member);
    g_dbus_connection_send_message(bus, error, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
    g_object_unref(error);
  }
  g_object_unref(message);
  return nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: polkit_stub ADDRESS ANSWER\n");
    return 2;
  }
  Stub stub{argv[2]};
  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      argv[1],
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!bus) {
    std::fprintf(stderr, "polkit_stub: %s\n", error->message);
    return 1;
  }
  g_dbus_connection_add_filter(bus, Filter, &stub, nullptr);
  GVariant* owned = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", "org.freedesktop.PolicyKit1", 4u), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  guint32 how = 0;
  if (owned) g_variant_get(owned, "(u)", &how);
  if (!owned || how != 1) {
    std::fprintf(stderr, "polkit_stub: cannot own the name: %s\n", error ? error->message : "");
    return 1;
  }
  g_variant_unref(owned);
  Say("ready");
  char buffer[64];
  while (read(0, buffer, sizeof buffer) > 0) {
  }
  g_object_unref(bus);
  return 0;
}
