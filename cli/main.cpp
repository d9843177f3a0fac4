// tamboril: the native command-line tool over the song loader and player.
#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
    CLI::App app{"Tamboril: plays and inspects GYM and VGM songs of the YM2612 and SN76489",
                 "tamboril"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Print help for every command");
    int status = 0;
    AddInfoCommand(app, status);
    AddRenderCommand(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return status;
}
