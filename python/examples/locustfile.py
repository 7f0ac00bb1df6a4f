"""Loads a host with purchases from simulated terminals.

    locust -f locustfile.py --headless -u 20 -r 20 -t 30s --host 127.0.0.1:5000

Across machines, one master and any number of workers:

    locust -f locustfile.py --master --headless --expect-workers 2 -u 20 -r 20 -t 30s --host 10.0.0.5:5000
    locust -f locustfile.py --worker --master-host 10.0.0.9      # on each load machine

TRANPAK_KEY (16 hex digits) and TRANPAK_DEFS (a definition file) change the
key and the field layout; the defaults are those of the example host.
"""
import itertools
import os

from locust import constant, task

from tranpak.locust import TranpakUser


class Terminal(TranpakUser):
    wait_time = constant(0)
    key = os.environ.get("TRANPAK_KEY", "0123456789ABCDEF")
    session_options = {"defs": os.environ.get("TRANPAK_DEFS")}
    stan = itertools.count(1)  # shared by the process's terminals

    def on_start(self):
        self.terminal = f"TERM{id(self) % 10000:04d}"

    @task
    def purchase(self):
        self.client.exchange({0: "0200", 2: "4761739001010119", 4: "12.50",
                              11: f"{next(self.stan) % 1000000:06d}", 41: self.terminal}, name="purchase")
