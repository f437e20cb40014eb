# shellcheck shell=bash
# Sourced by the download benchmarks: nginx as a neutral static server on a
# free loopback port, one worker, sendfile on, everything it writes under
# WORK/nginx.
#   start_static_nginx NGINX WORK ROOT
# serves ROOT's files at http://127.0.0.1:$static_nginx_port/ and adds its
# pid to the caller's pids array (the caller's cleanup stops it). Its
# workers drop root's rights, so ROOT and the folders above it up to WORK
# are made readable to them.
start_static_nginx() {
  local nginx=$1 work=$2 root=$3 dir
  static_nginx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  mkdir -p "$work/nginx"
  dir=$root
  while [[ $dir == "$work"/* ]]; do chmod a+rx "$dir"; dir=$(dirname "$dir"); done
  chmod a+rx "$work"
  cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$static_nginx_port; root $root; }
}
CONF
  "$nginx" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  pids+=($!)
  sleep 0.5
}
