// gaugebench serve for the tests, on a free port. Paths come from the
// environment (scripts/test.sh sets them); the defaults suit a build in
// build/linux.
import { spawn } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const root = path.resolve(here, '../..');
export const build = process.env.KORVANE_BUILD || path.join(root, 'build/linux');
export const gaugebench = path.join(build, 'gaugebench');
const peDir = process.env.KORVANE_PE_DIR || path.join(root, 'build/win');
export const modules = ['--modules', peDir];
export const scenario = path.join(here, 'engines_stopped.txt');
// Under the i386 emulator the first picture takes a while.
export const kPatience = 60_000;

export const jsbsim = process.env.KORVANE_JSBSIM || path.join(root, 'build/jsbsim/bin/JSBSim');

// Starts the server (on `port`, or on one the system picks, which no other
// test running beside it can take first; with the stopped-engine scenario
// unless `start` says otherwise); resolves to { child, port } once it says
// where it listens.
export async function startServer(extra = [], port = undefined, start = ['--scenario', scenario]) {
  const at = port ?? 0;
  return new Promise((resolve, reject) => {
    const child = spawn(gaugebench, ['serve', ...start, '--port', String(at), ...modules, ...extra], { cwd: root });
    let output = '';
    const timer = setTimeout(() => reject(new Error(`no address printed in time:\n${output}`)), kPatience);
    child.stderr.on('data', (chunk) => {
      output += chunk;
      const live = output.match(/is live at http:\/\/[^:]+:(\d+)\//);
      if (live) {
        clearTimeout(timer);
        resolve({ child, port: Number(live[1]), output: () => output });
      }
    });
    child.once('exit', (code) => reject(new Error(`server ended (${code}):\n${output}`)));
  });
}

export function stopServer({ child }) {
  return new Promise((resolve) => {
    if (child.exitCode !== null) return resolve();
    child.once('exit', resolve);
    child.kill('SIGTERM');
  });
}
