# Read by cpack before it installs the project into its staging folder: the
# package holds the designed paths, never a QZM480_ROOT staging prefix.
unset(ENV{QZM480_ROOT})
