# Written again by scripts/python.sh from the project's CMake version.
__version__ = "1.0.0"
