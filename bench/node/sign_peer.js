// Benchmark peer: time the vendor's Node SDK preparing and signing one
// DescribeInstances request (fresh nonce and timestamp each time), with its
// HTTP transport replaced by a stub that answers at once, so no packet is sent
// and only the SDK's own work is measured. Prints the median CPU microseconds
// per request of five runs.
'use strict';

const httpx = require('httpx');
const RPCClient = require('@alicloud/pop-core').RPCClient;

let lastUrl = '';
httpx.request = async (url) => {
  lastUrl = url;
  return { req: { getHeaders: () => ({}) }, statusCode: 200, headers: {} };
};
httpx.read = async () => '{}';

const client = new RPCClient({
  accessKeyId: 'testid',
  accessKeySecret: 'testsecret',
  endpoint: 'http://ecs.aliyuncs.com',
  apiVersion: '2014-05-26',
});

// CPU time of this process per request, like the C++ benchmark's CPU column,
// so that other load on the machine does not count against either side.
async function run(count) {
  const start = process.cpuUsage();
  for (let i = 0; i < count; i++) {
    await client.request('DescribeInstances', { RegionId: 'cn-shanghai' });
  }
  const used = process.cpuUsage(start);
  return (used.user + used.system) / count;
}

(async () => {
  const count = Number(process.argv[2] || 100000);
  await run(Math.min(count, 20000));  // warm-up: let the JIT settle
  const runs = [];
  for (let r = 0; r < 5; r++) runs.push(await run(count));
  runs.sort((a, b) => a - b);
  if (!lastUrl.includes('&Signature=') || !lastUrl.includes('SignatureNonce=')) {
    console.error('the SDK did not produce a signed URL: ' + lastUrl);
    process.exit(1);
  }
  if (process.argv.includes('--show-url')) console.error(lastUrl);
  console.log(runs[2].toFixed(3));
})();
