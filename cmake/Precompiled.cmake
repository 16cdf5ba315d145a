# orbitune_precompile(<target> <core|gui|widgets|dbus|test>)
#
# Precompiles the Qt and standard headers a target's files include most. Only
# Qt and the standard library go in: no header of ours, so a layer still sees
# exactly the headers of the layers it links. Each level holds only modules the
# target links itself (a core layer gets QtCore alone), so a header of a module
# the layer does not link still fails to compile.
set(ORBITUNE_PCH_CORE
  <QByteArray> <QDateTime> <QDir> <QElapsedTimer> <QFile> <QHash> <QList> <QObject>
  <QPointer> <QString> <QStringList> <QTimer> <QUrl> <QVariant> <QVariantMap>
  <algorithm> <functional> <memory> <vector>)
set(ORBITUNE_PCH_GUI ${ORBITUNE_PCH_CORE} <QColor> <QIcon> <QImage> <QPainter>)
set(ORBITUNE_PCH_WIDGETS ${ORBITUNE_PCH_GUI}
  <QAction> <QApplication> <QLabel> <QLineEdit> <QMenu> <QPushButton> <QWidget>)
set(ORBITUNE_PCH_DBUS ${ORBITUNE_PCH_GUI} <QDBusConnection> <QDBusMessage>)
set(ORBITUNE_PCH_TEST ${ORBITUNE_PCH_WIDGETS} <QtTest> <QSignalSpy> <QProcess> <QTemporaryDir>)

option(ORBITUNE_PCH "Precompile Qt and standard headers" ON)

function(orbitune_precompile target level)
  # A layer built in combined files parses its headers a few times only; a
  # precompiled header of its own would cost more than it saves.
  get_target_property(unity ${target} UNITY_BUILD)
  if(NOT ORBITUNE_PCH OR unity)
    return()
  endif()
  string(TOUPPER ${level} level)
  target_precompile_headers(${target} PRIVATE ${ORBITUNE_PCH_${level}})
endfunction()

# The test programs share one precompiled header: the first one made owns it.
function(orbitune_precompile_test target)
  if(NOT ORBITUNE_PCH)
    return()
  endif()
  # Loading the shared header takes seconds; the moc file of a test holds
  # nothing (its moc output is included by the test itself) or a header's
  # moc output, which needs no more than its own includes.
  get_target_property(binary_dir ${target} BINARY_DIR)
  set_source_files_properties(${binary_dir}/${target}_autogen/mocs_compilation.cpp
    TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  get_property(owner GLOBAL PROPERTY ORBITUNE_TEST_PCH_OWNER)
  if(owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    set_property(GLOBAL PROPERTY ORBITUNE_TEST_PCH_OWNER ${target})
    target_precompile_headers(${target} PRIVATE ${ORBITUNE_PCH_TEST})
  endif()
endfunction()
