"""The wheel carries a shared library and programs built for one system, so
it is not pure Python: it goes to the platform's library folder and is
tagged for the platform it was built on (any Python 3, since the package
uses only ctypes)."""
import sysconfig

from setuptools import Distribution, setup


class BinaryDistribution(Distribution):
    def has_ext_modules(self):
        return True


commands = {}
try:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        def get_tag(self):
            return "py3", "none", sysconfig.get_platform().replace("-", "_").replace(".", "_")

    commands["bdist_wheel"] = PlatformWheel
except ImportError:  # no wheel package: only an sdist can be made
    pass

setup(distclass=BinaryDistribution, cmdclass=commands)
