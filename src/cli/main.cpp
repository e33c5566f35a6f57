// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli: the headless front of Inboxwarden.
#include "cli/check_command.h"
#include "cli/decode_command.h"
#include "cli/delete_command.h"
#include "cli/mark_command.h"
#include "cli/send_command.h"
#include "cli/session.h"
#include "cli/settings_commands.h"
#include "cli/terminal.h"
#include "cli/tnef_command.h"
#include "platform/registry.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// One line on standard error for a usage error, naming the command whose
// --help tells more.
int usageError(const CLI::App& app, const CLI::ParseError& e,
               const std::vector<std::string>& words) {
    if (app.get_subcommands().empty()) {
        for (size_t i = 1; i < words.size(); ++i) {
            if (words[i] == "--profile") ++i;
            if (words[i].rfind('-', 0) == 0) continue;
            std::fprintf(stderr,
                         "inboxwarden-cli: there is no command '%s'; see 'inboxwarden-cli "
                         "--help'\n",
                         Cli_Printable(words[i]).c_str());
            return 2;
        }
    }
    std::string path;
    for (const CLI::App* a = &app; a;
         a = a->get_subcommands().empty() ? nullptr : a->get_subcommands().front())
        path += a->get_name() + " ";
    std::fprintf(stderr, "inboxwarden-cli: %s; see '%s--help'\n", e.what(), path.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Cli_InstallMessageHandler();
    // A command's writes that matter reach the profile too, which is synced;
    // the store's own copy need not be synced at every exit as well.
    RegStore_SetCheckpointOnClose(false);

    // The tray program's "/profile:FILE" spelling, kept for scripts that
    // pass the same switch to both programs.
    std::vector<std::string> words(argv, argv + argc);
    if (words.size() >= 2) {
        std::string value;
        if (Cli_ProfileSwitch(words[1].c_str(), &value)) words[1] = "--profile=" + value;
    }

    CLI::App app{"The command-line front of Inboxwarden, the POP3 mail checker. Every command "
                 "works on the settings store and profile of the tray program while it is not "
                 "running; while it runs, accounts, box, check, delete and mark ask it on the "
                 "session bus, and the others wait until it has quit.",
                 "inboxwarden-cli"};
    app.set_version_flag("--version", "inboxwarden-cli " IW_VERSION);
    app.require_subcommand(1);
    std::string profile;
    app.add_option("--profile", profile, "work on this profile instead of the default one")
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check([](const std::string& v) { return v.empty() ? "needs a file" : std::string(); });
    std::function<int()> run;

    // decode
    std::string file;
    bool withPasswords = false;
    bool json = false;
    auto* decode = app.add_subcommand(
        "decode", "parse a message file and print its parts, record fields, text and attachments");
    decode->add_option("FILE", file, "the message file")->required();
    decode->add_flag("--json", json, "print JSON");
    decode->callback([&] { run = [&] { return Cli_Decode(file, json); }; });

    // accounts, account
    app.add_subcommand("accounts", "list the accounts")->callback([&] {
        run = [&] { return Cli_Accounts(profile); };
    });
    CLI_ACCOUNT_ARGS acc;
    auto* account = app.add_subcommand("account", "change an account")->require_subcommand(1);
    account->footer(Cli_AccountFieldsHelp());
    auto* add = account->add_subcommand("add", "add an account with these fields");
    auto* set = account->add_subcommand("set", "change these fields of an account");
    for (CLI::App* verb : {add, set}) {
        verb->add_option("NAME", acc.name, "the account")->required();
        verb->add_option("FIELD=VALUE", acc.fields, "stored account values to set")
            ->required(verb == set);
        verb->add_flag("--chk-password-stdin", acc.chkPasswordStdin,
                       "read the POP3 password as a line of standard input");
        verb->add_flag("--send-password-stdin", acc.sendPasswordStdin,
                       "read the SMTP password as the next line of standard input");
    }
    auto* rename = account->add_subcommand("rename", "rename an account, its messages with it");
    rename->add_option("NAME", acc.name, "the account")->required();
    rename->add_option("NEWNAME", acc.newName, "its new name")->required();
    auto* del = account->add_subcommand("delete", "delete an account and its message records");
    del->add_option("NAME", acc.name, "the account")->required();
    for (CLI::App* verb : {add, set, rename, del})
        verb->callback([&, verb] {
            acc.verb = verb->get_name();
            run = [&] { return Cli_Account(profile, acc); };
        });

    // options
    std::vector<std::string> assignments;
    bool optionsSet = false;
    auto* options = app.add_subcommand("options", "list the global options, or change them");
    auto* optSet = options->add_subcommand("set", "change global options");
    optSet->add_option("NAME=VALUE", assignments, "booleans are 0 or 1; quote names with blanks")
        ->required();
    optSet->callback([&] { optionsSet = true; });
    options->callback(
        [&] { run = [&] { return Cli_Options(profile, optionsSet ? &assignments : nullptr); }; });

    // box
    std::string name;
    auto* box = app.add_subcommand("box", "list an account's message records");
    box->add_option("ACCOUNT", name, "the account")->required();
    box->add_flag("--json", json, "print JSON");
    box->callback([&] { run = [&] { return Cli_Box(profile, name, json); }; });

    // profile
    auto* prof =
        app.add_subcommand("profile", "write or read a whole configuration")->require_subcommand(1);
    for (const char* verb : {"export", "import"}) {
        auto* v = prof->add_subcommand(verb, std::string(verb) + " the configuration");
        v->add_option("FILE", file, "the profile file")->required();
        if (std::string(verb) == "export")
            v->add_flag("--with-passwords", withPasswords,
                        "also write the passwords the desktop keyring keeps (scrambled)");
        v->callback([&, v] {
            run = [&, v] { return Cli_Profile(profile, v->get_name(), file, withPasswords); };
        });
    }

    // send
    CLI_SEND_ARGS send;
    auto* sendCmd = app.add_subcommand(
        "send", "send standard input (UTF-8) as a message through the account's outgoing server");
    sendCmd->add_option("--account", send.account, "the sending account")->required();
    sendCmd->add_option("--to", send.to, "recipients, separated by ';' or ','")->required();
    sendCmd->add_option("--cc", send.cc, "copies");
    sendCmd->add_option("--bcc", send.bcc, "blind copies");
    sendCmd->add_option("--subject", send.subject, "the subject (may be empty)")->required();
    sendCmd->add_option("--attach", send.attach, "a file to attach (repeat for more)")
        ->allow_extra_args(false);
    sendCmd->add_flag("--password-stdin", send.passwordStdin,
                      "the first line of standard input is the password; the body follows");
    sendCmd->add_option("--log", send.log, "write the SMTP dialogue to this file");
    sendCmd->footer("A password that is not saved is asked on the terminal. Exit status: 0 sent, "
                    "3 some recipients were refused, 1 not sent, 2 bad usage.");
    sendCmd->callback([&] { run = [&] { return Cli_Send(profile, send); }; });

    // check
    bool passwordStdin = false;
    auto* check = app.add_subcommand("check", "check accounts now and print their results");
    check->add_option("ACCOUNT", name, "an account, All, or AllInc (those checked automatically)")
        ->required();
    check->add_flag("--json", json, "print JSON");
    check->add_flag("--password-stdin", passwordStdin,
                    "read each password that is not saved as a line of standard input, in "
                    "check order");
    check->callback([&] { run = [&] { return Cli_Check(profile, name, json, passwordStdin); }; });

    // delete
    std::vector<std::string> ids;
    auto* delCmd = app.add_subcommand("delete", "delete messages from the account's server now");
    delCmd->add_option("ACCOUNT", name, "the account")->required();
    delCmd
        ->add_option("ID", ids,
                     "unique ids as 'box' lists them; put '--' before ids that "
                     "start with '-'")
        ->required();
    bool hex = false;
    delCmd->add_flag("--hex", hex,
                     "each ID is the hex digits of its bytes (MsgIdHex of 'box "
                     "--json'); confirmed ids are printed so");
    delCmd->add_flag("--password-stdin", passwordStdin,
                     "read the password as a line of standard input");
    delCmd->footer("Prints the ids the server confirmed; the others stay marked, so the next "
                   "check deletes them.");
    delCmd->callback(
        [&] { run = [&] { return Cli_Delete(profile, name, ids, hex, passwordStdin); }; });

    // mark
    auto* markCmd = app.add_subcommand(
        "mark", "mark messages read, unread, or for deletion from the server at the next check");
    markCmd->add_option("ACCOUNT", name, "the account")->required();
    markCmd
        ->add_option("ID", ids,
                     "unique ids as 'box' lists them, then the STATE: read, unread or delete; "
                     "put '--' before ids that start with '-'")
        ->type_name("... STATE")
        ->required()
        ->expected(2, -1);
    markCmd->add_flag("--hex", hex, "each ID is the hex digits of its bytes (MsgIdHex)");
    markCmd->footer("Works on the store, or through the running program. Ids the box does not "
                    "hold are named on stderr (exit status 1); the others are marked.");
    markCmd->callback([&] {
        run = [&] {
            const std::string state = ids.back();
            ids.pop_back();
            return Cli_Mark(profile, name, ids, hex, state);
        };
    });

    // tnef
    std::string dir = ".";
    auto* tnef = app.add_subcommand("tnef", "list or unpack the files packed in a winmail.dat")
                     ->require_subcommand(1);
    auto* list = tnef->add_subcommand("list", "print the names extract writes the files as");
    auto* extract = tnef->add_subcommand("extract", "unpack the files into DIR");
    for (CLI::App* verb : {list, extract}) {
        verb->add_option("FILE", file, "the TNEF file")->required();
        verb->add_flag("--json", json, "print [{\"name\": as packed, \"file\": as written}]");
        verb->callback(
            [&, verb] { run = [&, verb] { return Cli_Tnef(verb->get_name(), file, dir, json); }; });
    }
    extract->add_option("DIR", dir, "where to unpack (made when missing; default: here)");

    try {
        std::vector<const char*> args;
        for (const std::string& w : words)
            args.push_back(w.c_str());
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(app, e, words);
    }
    const int rc = run ? run() : 2;
    // A command's save comes as its session ends, after its own result.
    return rc == 0 && CliSession::SaveFailed() ? 1 : rc;
}
