# Finding the packages the build uses, with messages a newcomer can act on.
#
# find_package's own report of a missing package lists every file name and
# folder it tried; what a user needs is the Debian package to install and the
# script that installs it (scripts/install-dependencies).  Required packages
# that are missing are each named on one line, and configuring stops once the
# whole project has been read (the last lines of the top CMakeLists.txt),
# so that one run names everything that is missing.

# require_package(<name> <debian package> [find_package arguments...])
function(require_package name debian_package)
  find_package(${name} ${ARGN} QUIET)
  if(NOT ${name}_FOUND)
    message(NOTICE "Missing ${name}: install the Debian package ${debian_package} "
                   "(scripts/install-dependencies installs every package this build needs)")
    set_property(GLOBAL APPEND PROPERTY INTERVAL_MISSING_PACKAGES ${debian_package})
  endif()
endfunction()

# optional_package(<name> <debian package> <what is left out without it>
#                  [find_package arguments...])
# Sets <name>_FOUND in the caller.
function(optional_package name debian_package left_out)
  find_package(${name} ${ARGN} QUIET)
  if(NOT ${name}_FOUND)
    message(STATUS "${name} not found: ${left_out} (install ${debian_package}, "
                   "or run scripts/install-dependencies --tests)")
  endif()
  set(${name}_FOUND ${${name}_FOUND} PARENT_SCOPE)
endfunction()
