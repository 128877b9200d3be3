"""The Jinja test `module_available`, loaded by Ansible from this folder beside
collect-keys.yml: whether a task naming the module (or action) would run on this
control node, asked of the same plugin loader that reads the playbook. A task
file naming a module Ansible cannot find fails to load and ends the whole run,
so collect-keys.yml includes tamsket-windows.yml only where this test passes.

    when: "'ansible.windows.win_command' is module_available"
"""

from ansible.plugins.loader import action_loader, module_loader


def module_available(name):
    # The order Ansible itself resolves a task's action in: an action plugin
    # of that name first, then a module.
    return any(loader.find_plugin_with_context(name).resolved
               for loader in (action_loader, module_loader))


class TestModule:
    def tests(self):
        return {"module_available": module_available}
