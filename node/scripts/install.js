'use strict';
// Install step of the npm package: builds QXSymbols.node (and the library
// libQXSymbols beside it) with CMake into build/. Needs CMake 3.25 or later,
// a C++17 compiler and the Node.js headers (<node prefix>/include/node).
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const root = path.resolve(__dirname, '..');
const build = path.join(root, 'build');

function run(args) {
  const r = spawnSync('cmake', args, { cwd: root, stdio: 'inherit' });
  if (r.error) {
    console.error(
      'qxsymbols: cmake could not be started (' +
        r.error.message +
        '); ' +
        'install CMake 3.25 or later and a C++17 compiler',
    );
    process.exit(1);
  }
  if (r.status !== 0) process.exit(r.status || 1);
}

const configure = [
  '-S',
  root,
  '-B',
  build,
  '-DCMAKE_BUILD_TYPE=Release',
  '-DQXSYM_NODE_EXECUTABLE=' + process.execPath,
];
const headers = path.join(path.dirname(path.dirname(process.execPath)), 'include', 'node');
if (fs.existsSync(path.join(headers, 'node_api.h'))) {
  configure.push('-DQXSYM_NODE_INCLUDE_DIR=' + headers);
}
run(configure);
const jobs =
  process.env.CMAKE_BUILD_PARALLEL_LEVEL ||
  String(os.availableParallelism ? os.availableParallelism() : os.cpus().length);
run(['--build', build, '--parallel', jobs, '--target', 'qxsymbols_node', 'qxsymbols_async']);
