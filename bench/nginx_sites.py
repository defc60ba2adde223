# nginx serving ROOT on N listening sockets bound here (127.0.0.1, port 0) and
# handed over through NGINX=<fd>;...: no port is picked first and bound later.
# Prints the ports on one line, then becomes nginx (configuration, logs and
# temporary files in DIR).
#
# Usage: /usr/bin/python3 bench/nginx_sites.py DIR ROOT N
import os, socket, sys
d, root, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
socks = []
for _ in range(n):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(128)
    s.setblocking(False)  # nginx leaves an inherited socket as it is; a blocking one would hold a worker in accept()
    os.set_inheritable(s.fileno(), True)
    socks.append(s)
os.makedirs(d + "/temp", exist_ok=True)
conf = ("user root root;\ndaemon off;\nmaster_process on;\nworker_processes auto;\n"
        "error_log %s/error.log;\npid %s/nginx.pid;\nevents { worker_connections 1024; }\n"
        "http {\n  access_log off;\n  sendfile on;\n  default_type application/octet-stream;\n" % (d, d))
for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
    conf += "  %s_temp_path %s/temp;\n" % (t, d)
for s in socks:
    conf += "  server { listen 127.0.0.1:%d; root %s; }\n" % (s.getsockname()[1], root)
open(d + "/nginx.conf", "w").write(conf + "}\n")
print(" ".join(str(s.getsockname()[1]) for s in socks), flush=True)
os.environ["NGINX"] = "".join("%d;" % s.fileno() for s in socks)
os.execv("/usr/sbin/nginx", ["nginx", "-e", d + "/error.log", "-p", d, "-c", d + "/nginx.conf"])
