#!/bin/bash
# Runs avahi-daemon in a network of its own (start it under unshare -nm):
# one veth pair, the services of DIR/services and the configuration
# DIR/avahi.conf, on the D-Bus system bus DBUS_SYSTEM_BUS_ADDRESS names.
#   own_avahi.sh DIR
set -e
dir=$1
mount --bind "$dir/services" /etc/avahi/services
mount -t tmpfs none /run/avahi-daemon
ip link add v0 type veth peer name v1
ip addr add 10.9.0.1/24 dev v0
ip addr add 10.9.0.2/24 dev v1
ip link set v0 up
ip link set v1 up
exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$dir/avahi.conf"
