// SPDX-License-Identifier: Apache-2.0
// The launch order: every step of a launch, in order, in continue_launch.
#include "launcher/launch_steps.h"
#include "platform/platform.h"

launcher_state launcher;

namespace {

// Returns whether the launch takes `step` now: it is the next step and lies
// before `stop`. If so, the step counts as taken, whatever its outcome.
bool takes(launch_step step, launch_step stop)
{
    if (launcher.next_step != step || step >= stop)
        return false;
    launcher.next_step = static_cast<launch_step>(step + 1);
    return true;
}

int end_launch(int exit_status)
{
    launcher.exit_status = exit_status;
    launcher.next_step = launch_end;
    return exit_status;
}

// A failure once the VM has started is reported by a VM that did start,
// and whatever failed, the VM is shut down the same way. A failure of the
// main class gives the run the status that failstatus asks for.
void fail_after_vm_start(int exit_status)
{
    launcher.exit_status = exit_status;
    if (launcher.next_step < launch_shutdown)
        launcher.next_step = launch_shutdown;
}

void fail_main_class()
{
    fail_after_vm_start(launcher.settings.number[setting_failstatus]);
}

int choose_configuration()
{
    // First, so that not even the configuration file takes their place.
    open_closed_standard_descriptors();
    launcher.section_name = launcher.argument_count >= 2 ? launcher.arguments[1] : default_launcher_section;
    launcher.config_path = launcher.argument_count >= 3 ? launcher.arguments[2] : system_config_path();
    launcher.config_root = read_config_file(launcher.config_path);
    // Without the system configuration every key takes its default.
    if (launcher.config_root == nullptr && launcher.argument_count >= 3) {
        log_error("Unable to read JVM configuration from %s", launcher.config_path);
        return -1;
    }
    return 0;
}

int prepare_vm_init_args()
{
    if (build_vm_init_args(launcher.config_root, &launcher.settings, &launcher.init_args) != 0) {
        log_error("Out of memory building the JVM options");
        return -1;
    }
    return 0;
}

// The folder classcache names, null when it names none.
const char* class_cache_folder()
{
    const char* folder = launcher.settings.text[setting_classcache];
    return folder[0] != '\0' ? folder : nullptr;
}

int start_vm()
{
    // Read by the program's report of a VM that ends the process.
    launcher.creating_vm = true;
    const int result = create_java_vm(launcher.create_vm, &launcher.init_args, &launcher.vm, &launcher.env);
    launcher.creating_vm = false;
    launcher.vm_created = result == 0;
    return result;
}

} // namespace

int continue_launch(launch_step stop)
{
    const launcher_settings& settings = launcher.settings;
    if (takes(launch_configuration, stop) && choose_configuration() != 0)
        return end_launch(1);
    if (takes(launch_settings, stop)
        && read_launch_settings(launcher.config_root, launcher.section_name, launcher.config_path, &launcher.settings)
            != 0)
        return end_launch(1);
    // A jar that cannot be run stops the launch before anything is loaded.
    if (takes(launch_main_jar, stop) && read_main_jar(&settings, &launcher.jar, &launcher.main_class) != 0)
        return end_launch(1);

    // The Java VM.
    if (takes(launch_vm_options, stop) && prepare_vm_init_args() != 0)
        return end_launch(1);
    if (takes(launch_vm_library, stop)
        && open_vm_library(settings.text[setting_jvm], &launcher.jdk_vm_library, &launcher.vm_library,
                           &launcher.create_vm)
            != 0)
        return end_launch(1);
    if (takes(launch_class_cache_plan, stop))
        plan_class_cache_use(class_cache_folder(), launcher.vm_library, launcher.main_class, &launcher.init_args,
                             &launcher.class_cache);
    if (takes(launch_class_cache, stop))
        make_class_cache_ready(class_cache_folder(), &launcher.class_cache, &launcher.init_args);
    if (takes(launch_java_command, stop)
        && add_java_command_option(launcher.jar.path, &settings, launcher.config_path, launcher.argument_count,
                                   launcher.arguments, &launcher.init_args)
            != 0)
        return end_launch(1);
    // The VM sizes the stacks of the threads it starts, not that of the one
    // that creates it and runs main: as under the java command, that thread
    // is started here, whatever the process's own stack limit, and takes the
    // remaining steps.
    if (takes(launch_main_thread, stop))
        return continue_launch_on_stack(main_stack_size(launcher.init_args, launcher.vm_library), stop);
    if (takes(launch_vm_creation, stop) && start_vm() != 0)
        return end_launch(1);
    // An archive the VM did not map is one it rejected: the next launch
    // writes it anew.
    if (takes(launch_class_cache_use, stop))
        (void)check_class_cache_mapped(&launcher.class_cache);
    // Before the main jar's agent and the main class's static initializer,
    // which may open the listener.
    if (takes(launch_ready_watch, stop) && !launcher.skip_main)
        watch_ready_port(settings.number[setting_ready]);
    // As java -jar does, before the main class is loaded; a failure ends
    // the run with status 1, once the VM is shut down.
    if (takes(launch_jar_manifest, stop) && apply_jar_manifest(launcher.env, &launcher.jar) != 0)
        fail_after_vm_start(1);

    // The main class.
    if (takes(launch_main_method, stop)
        && find_main_method(launcher.env, launcher.main_class, &launcher.main) != 0)
        fail_main_class();
    if (takes(launch_main_arguments, stop)
        && make_main_arguments(launcher.env, &settings, launcher.config_path, launcher.argument_count,
                               launcher.arguments, &launcher.main_arguments, &launcher.main_argument_count)
            != 0)
        fail_main_class();
    if (takes(launch_main_call, stop) && !launcher.skip_main) {
        launcher.main_called = true;
        if (call_main_method(launcher.env, &launcher.main, launcher.main_arguments) != 0)
            fail_main_class();
    }
    // A failure of the main class's steps, main's exception included, goes
    // on with the shutdown, past this step.
    if (takes(launch_main_ready, stop) && launcher.main_called)
        tell_main_returned(settings.number[setting_ready]);

    if (takes(launch_shutdown, stop) && stop_java_vm(&launcher.vm) != 0)
        return end_launch(1);
    // What fails here is logged and changes nothing else; System.exit takes
    // this step in exit() (see make_class_cache_ready).
    if (takes(launch_class_cache_finish, stop))
        (void)finish_class_cache(&launcher.class_cache, launcher.main_called);
    return launcher.exit_status;
}

int launcher_main(int32_t argument_count, char** arguments)
{
    launcher.argument_count = argument_count;
    launcher.arguments = arguments;
    return continue_launch(launch_end);
}
